// Names as Win32 compares them: class, resource and file names match whatever their letter case.
#pragma once

namespace w32 {

// The layer compares names folded to lower case. Only ASCII letters fold; other UTF-8 or UTF-16
// units stay.
template <class Text>
Text fold_case(Text s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename Text::value_type>(c - 'A' + 'a');
    return s;
}

}  // namespace w32
