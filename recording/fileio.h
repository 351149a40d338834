// Opening and appending to the data and memo files, and the log lines for files that cannot be
// written.
#pragma once

#include <windows.h>

#define DATA_FOLDER "C:\\data\\"

// Opens `path` for writing, sharing only reading: a viewer that follows the file as it grows
// (reading, and letting it be written) does not stop the recording. Another program that has the
// file open without letting it be written at this moment (a copy, a delete under way, a program
// that locks the file) makes the open fail with a sharing violation; that mostly passes within
// moments, so with `retry` the open is tried again for up to about 100 ms
// before the line is given up; without it, once. A path that would leave the data folder or
// open a device fails with ERROR_INVALID_NAME, without an open.
HANDLE OpenForWriting(const char* path, DWORD disposition, bool retry);

// Appends `text` at the end of the open file, whole or not at all, so that what follows never
// starts after a fragment: a file whose end cannot be reached is not written, and a write that
// comes up short (a disk that fills up in the middle of it) is cut off again. False, with the
// error set, when nothing was added; a write that reported success with fewer bytes has run out
// of room, and says ERROR_DISK_FULL.
bool AppendText(HANDLE hFile, const char* text);

// Logs "Error: cannot <action> <path> (<reason>)", the reason read from the error code.
void LogFileError(const char* action, const char* path, DWORD error);
