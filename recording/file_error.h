// Log lines for files that cannot be written.
#pragma once

#include <windows.h>

#define DATA_FOLDER "C:\\data\\"

// Logs "Error: cannot <action> <path> (<reason>)", the reason read from the error code.
void LogFileError(const char* action, const char* path, DWORD error);
