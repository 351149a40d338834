// The data file: opened, appended to and closed again for every line, so that each sample's line
// is with the operating system by the time the sample is done.
#include "datafile.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "dialog.h"
#include "fileio.h"
#include "log.h"
#include "resource.h"

char dataFileName[DATA_PATH_SIZE];

// Set once a line of the current recording is lost, so the loss is reported once, not per sample.
static bool dataFileFailed;

void WriteDataLine(int mode, const char* text) {
    HANDLE hFile;
    if (mode == 0) {
        char cbuf[DATA_PATH_SIZE + 32];
        memset(cbuf, 0, sizeof cbuf);
        GetDlgItemTextA(hDlgMain, IDC_FILENAME, cbuf, 100);
        snprintf(dataFileName, sizeof dataFileName, "%s%s.dat", DATA_FOLDER, cbuf);
        snprintf(cbuf, sizeof cbuf, "Save data as %s", dataFileName);
        PostLogMessage(cbuf);
        dataFileFailed = false;
        hFile = OpenForWriting(dataFileName, CREATE_ALWAYS);
        if (hFile == INVALID_HANDLE_VALUE) {
            LogFileError("create", dataFileName, GetLastError());
            dataFileFailed = true;
            return;
        }
    } else {
        hFile = OpenForWriting(dataFileName, OPEN_EXISTING);
        if (hFile == INVALID_HANDLE_VALUE) {
            if (!dataFileFailed)
                LogFileError("write", dataFileName, GetLastError());
            dataFileFailed = true;
            return;
        }
    }
    SetFilePointer(hFile, 0, NULL, FILE_END);
    DWORD dwWritten = 0;
    DWORD length = (DWORD)lstrlenA(text);
    if (!WriteFile(hFile, text, length, &dwWritten, NULL) || dwWritten != length) {
        DWORD error = GetLastError();
        if (!dataFileFailed)
            LogFileError("write", dataFileName, error);
        dataFileFailed = true;
    }
    CloseHandle(hFile);
}
