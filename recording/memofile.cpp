// The memo file: the memo field's text, as typed, in C:\data\ under the name the file-name
// field holds when the acquisition ends (which may differ from the data file's), extension .txt.
#include "recording/memofile.h"

#include <windows.h>

#include <cstdio>

#include "dialogstate/dlgmain.h"
#include "dialogstate/fieldtext.h"
#include "dialogstate/log.h"
#include "recording/claim.h"
#include "recording/fileio.h"
#include "recording/filename.h"
#include "res/resource.h"

#define MEMO_SIZE 5000

void WriteMemoFile() {
    char fname[DATA_PATH_SIZE];
    char cbuf[MEMO_SIZE];
    ComposeDataPath(fname, sizeof fname, ".txt");
    HANDLE hClaim;
    if (!ClaimForMemo(fname, &hClaim)) {
        LogFileError("write memo", fname, GetLastError());
        return;
    }
    HANDLE hFile = OpenForWriting(fname, CREATE_ALWAYS, true);
    if (hFile == INVALID_HANDLE_VALUE) {
        LogFileError("write memo", fname, GetLastError());
        ReleaseClaim(hClaim);
        return;
    }
    GetFieldText(IDC_MEMO, cbuf, MEMO_SIZE);
    DWORD length = (DWORD)lstrlenA(cbuf);
    // A memo that cannot be written whole leaves an empty file, not the start of the memo.
    if (!AppendText(hFile, cbuf))
        LogFileError("write memo", fname, GetLastError());
    CloseHandle(hFile);
    ReleaseClaim(hClaim);
    // The memo is saved up to the buffer's size, in whole characters; what is cut off is said,
    // not lost silently.
    DWORD total = (DWORD)SendDlgItemMessageA(hDlgMain, IDC_MEMO, WM_GETTEXTLENGTH, 0, 0);
    if (total > length) {
        snprintf(cbuf, sizeof cbuf, "Memo too long: %lu of %lu bytes saved in %s",
                 (unsigned long)length, (unsigned long)total, fname);
        PostLogMessage(cbuf);
    }
}
