// The measurement dialog's handle: every part of the program reads and writes its fields through
// it, from the dialog's thread and from the worker.
#pragma once

#include <windows.h>

// Set by the dialog's WM_INITDIALOG, before any part runs.
extern HWND hDlgMain;
