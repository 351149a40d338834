// Entry point: the program is the measurement dialog.
#include <windows.h>

#include "app/dialog.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MEASURE), NULL, MeasureDlgProc, 0);
    return 0;
}
