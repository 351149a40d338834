// Opening and appending to the data and memo files, and the log lines for files that cannot be
// written.
#include "recording/fileio.h"

#include <cstdio>

#include "dialogstate/log.h"
#include "recording/claim.h"
#include "recording/filename.h"

#define OPEN_TRIES 20
#define OPEN_RETRY_MS 5

HANDLE OpenForWriting(const char* path, DWORD disposition, bool retry) {
    if (!IsSafeDataPath(path)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int i = 0; i < OPEN_TRIES; i++) {
        hFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, disposition,
                            FILE_ATTRIBUTE_NORMAL, NULL);
        if (!retry || hFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(OPEN_RETRY_MS);
    }
    return hFile;
}

// Moves the file pointer by a 64-bit distance, so that a file past 4 GB is reached as any other,
// and gives the new position if asked; false, with the error set, when it cannot be moved.
static bool MoveFilePointer(HANDLE hFile, LONGLONG distance, DWORD method, LONGLONG* position) {
    LONG high = (LONG)(distance >> 32);
    // With a high part, a low part of INVALID_SET_FILE_POINTER is a failure only with an error.
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(hFile, (LONG)(DWORD)distance, &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
        return false;
    if (position)
        *position = (LONGLONG)(((ULONGLONG)(DWORD)high << 32) | low);
    return true;
}

bool AppendText(HANDLE hFile, const char* text) {
    LONGLONG end = 0;
    if (!MoveFilePointer(hFile, 0, FILE_END, &end))
        return false;
    DWORD dwWritten = 0;
    DWORD length = (DWORD)lstrlenA(text);
    BOOL ok = WriteFile(hFile, text, length, &dwWritten, NULL);
    if (ok && dwWritten == length)
        return true;
    // A write that reports success with fewer bytes has run out of room as well.
    DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
    if (MoveFilePointer(hFile, end, FILE_BEGIN, NULL))
        SetEndOfFile(hFile);
    SetLastError(error);
    return false;
}

static const char* DescribeFileError(DWORD error) {
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
        return "folder not found";
    case ERROR_FILE_NOT_FOUND:
        return "file not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_SHARING_VIOLATION:
        return "file in use";
    case ERROR_INVALID_NAME:
        return "invalid name";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "disk full";
    case ERROR_RECORDED_ELSEWHERE:
        return "recorded by another window";
    }
    return NULL;
}

void LogFileError(const char* action, const char* path, DWORD error) {
    char cbuf[256];
    const char* reason = DescribeFileError(error);
    if (reason)
        snprintf(cbuf, sizeof cbuf, "Error: cannot %s %s (%s)", action, path, reason);
    else
        snprintf(cbuf, sizeof cbuf, "Error: cannot %s %s (error %lu)", action, path,
                 (unsigned long)error);
    PostLogMessage(cbuf);
}
