// The resource-script reader: the dialog templates of a .rc file (with its header's #defines
// in front), as the resource compiler would see them. Pure C++, no Qt.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace w32 {
namespace rc {

struct Control {
    std::string text;  // UTF-8, as written in the script
    int id = 0;
    std::string class_name;
    uint32_t style = 0;  // WS_CHILD | WS_VISIBLE included, as the resource compiler adds them
    uint32_t ex_style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct Dialog {
    int id = -1;       // numeric id, or -1 for a named template
    std::string name;  // the name of a named template, upper case
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = 0;
    uint32_t ex_style = 0;
    std::string caption;
    int font_size = 0;
    std::string font_face;
    std::vector<Control> controls;
};

struct Script {
    std::vector<Dialog> dialogs;
    std::string error;  // empty when the whole script was understood
};

// Reads every DIALOG/DIALOGEX template of `text`. Lines starting with '#' other than #define,
// and resources of other types, are skipped.
Script parse(const std::string& text);

// The template with the given numeric id (or name, when `name` is not empty), or nullptr.
const Dialog* find_dialog(const Script& script, int id, const std::string& name);

}  // namespace rc
}  // namespace w32
