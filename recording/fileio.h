// Opening the data and memo files, and the log lines for files that cannot be written.
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

// Logs "Error: cannot <action> <path> (<reason>)", the reason read from the error code.
void LogFileError(const char* action, const char* path, DWORD error);
