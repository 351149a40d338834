// The paths of the data and memo files: composed from the file-name field, checked to stay
// inside the data folder.
#pragma once

#include <windows.h>

#include <cstddef>

// "C:\data\" + a base name of up to 99 characters + an extension, with room to spare.
#define DATA_PATH_SIZE 128

// Composes the path of a file named by the file-name field: the data folder, the field's text
// (at most 99 characters) and `extension` (".dat", ".txt").
void ComposeDataPath(char* path, size_t size, const char* extension);

// FALSE when the part of `path` after the data folder would leave that folder or not name a
// file: a ".." step (the file would land above the data folder), a colon (on NTFS the data
// would go to a hidden stream of another file), or a step that names a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with any extension), which Windows opens instead of a file, so that every
// write "succeeds" and the data is gone. Sub-folders of the data folder are allowed.
BOOL IsSafeDataPath(const char* path);
