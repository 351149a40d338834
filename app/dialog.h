// The measurement dialog and its controller.
#pragma once

#include <windows.h>

extern int controllerState;

INT_PTR CALLBACK MeasureDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
