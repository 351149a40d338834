// Reading the dialog's fields into fixed buffers.
#pragma once

#include <windows.h>

// The text of the dialog's field `id` as GetDlgItemTextA reads it into `size` bytes (at most
// size - 1 and a zero), except that it ends at a character boundary of the ANSI code page:
// a character that does not fit whole is left out. Returns the number of bytes kept.
UINT GetFieldText(int id, char* buf, int size);
