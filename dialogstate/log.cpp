// The message log: each line goes into the log field in one piece, at its caret, as typing it
// would put it there (replacing a selection, CR LF at its end, scrolled into view).
#include "dialogstate/log.h"

#include <windows.h>

#include <string>

#include "dialogstate/dlgmain.h"
#include "res/resource.h"

// One EM_REPLACESEL per line: a line from the worker and one from the dialog's thread can then
// never splice into each other, and the worker pays for one cross-thread call, not one per byte.
void PostLogMessage(const char* text) {
    std::string line(text);
    line += "\r\n";
    SendDlgItemMessageA(hDlgMain, IDC_LOG, EM_REPLACESEL, FALSE, (LPARAM)line.c_str());
}
