// Reading the dialog's fields into fixed buffers.
#include "dialogstate/fieldtext.h"

#include <cstring>
#include <vector>

#include "dialogstate/dlgmain.h"

// GetDlgItemTextA stops at size - 1 bytes even inside a double-byte character, leaving a lone
// lead byte. So the text is read one byte longer than can be kept and walked character by
// character: whatever the read cut is past the last whole character that fits.
UINT GetFieldText(int id, char* buf, int size) {
    if (size <= 0) return 0;
    std::vector<char> text((size_t)size + 1, '\0');
    GetDlgItemTextA(hDlgMain, id, &text[0], size + 1);
    const char* end = &text[0];
    for (const char* next = CharNextA(end); next != end && next - &text[0] <= size - 1;
         next = CharNextA(end))
        end = next;
    UINT length = (UINT)(end - &text[0]);
    memcpy(buf, &text[0], length);
    buf[length] = '\0';
    return length;
}
