// The message log: lines are typed into the log field, character by character, at its caret.
#include "log.h"

#include <windows.h>

#include "dialog.h"
#include "resource.h"

void PostLogMessage(const char* text) {
    for (const char* p = text; *p; ++p)
        SendDlgItemMessageA(hDlgMain, IDC_LOG, WM_CHAR, (BYTE)*p, 0);
    SendDlgItemMessageA(hDlgMain, IDC_LOG, WM_CHAR, 13, 0);
}
