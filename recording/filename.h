// Whether a data or memo file's path stays inside the data folder and names a file.
#pragma once

#include <windows.h>

// FALSE when the part of `path` after the data folder would leave that folder or not name a
// file: a ".." step (the file would land above the data folder), a colon (on NTFS the data
// would go to a hidden stream of another file), or a step that names a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with any extension), which Windows opens instead of a file, so that every
// write "succeeds" and the data is gone. Sub-folders of the data folder are allowed.
BOOL IsSafeDataPath(const char* path);
