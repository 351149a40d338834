// 8-bit strings as the window manager walks them: CharNextA.
#include <windows.h>

#include "controls/edit_model.h"

extern "C" {

// The next character of the layer's 8-bit code page, UTF-8: a whole sequence, or one byte where
// the sequence is broken or cut short by the end of the string. Never past the terminating zero.
LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    if (!*lpsz) return const_cast<LPSTR>(lpsz);
    std::size_t len = w32::utf8_sequence_length(static_cast<unsigned char>(*lpsz));
    std::size_t n = 1;
    while (n < len && (static_cast<unsigned char>(lpsz[n]) & 0xC0) == 0x80) ++n;
    return const_cast<LPSTR>(lpsz + n);
}

}  // extern "C"
