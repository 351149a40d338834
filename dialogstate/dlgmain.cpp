// The measurement dialog's handle.
#include "dialogstate/dlgmain.h"

HWND hDlgMain;
