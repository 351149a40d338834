// The measurement dialog's procedure: start-up, the display and record commands, and the close.
#include "app/dialog.h"

#include <cstdio>

#include "acquisition/pacing.h"
#include "dialogstate/dlgmain.h"
#include "dialogstate/log.h"
#include "plot/plot.h"
#include "res/resource.h"

int controllerState;

static void SetDefaultFileName() { SetDlgItemTextA(hDlgMain, IDC_FILENAME, "test"); }

static void SetDefaultInterval() {
    char cbuf[50] = {0};
    snprintf(cbuf, sizeof cbuf, "%d", 100);
    SetDlgItemTextA(hDlgMain, IDC_INTERVAL, cbuf);
}

// Set while a start waits for the stopped worker, and from the moment a close begins. Both waits
// serve messages sent from other threads, so a button press sent meanwhile would otherwise start
// an acquisition inside them, whose worker the wait would then wait for without end.
static bool startHeld;
static bool closing;

// The previous worker ends before the mode changes: a stopped worker that has not yet passed its
// record step must not see the new acquisition's mode.
static void StartAcquisition(int state, const char* message) {
    PostLogMessage(message);
    startHeld = true;
    WaitForWorkerEnd();
    startHeld = false;
    // A close served inside the wait has ended the dialog and released the events.
    if (closing)
        return;
    controllerState = state;
    SetMode(controllerState);
    StartWorker();
    StartPacingTimer();
}

static void StopAcquisition(const char* message) {
    PostLogMessage(message);
    controllerState = 0;
    SetMode(controllerState);
    SignalStop();
    StopPacingTimer();
}

static void OnInitDialog(HWND hwnd) {
    hDlgMain = hwnd;
    CreateDisplayWindow();
    CreateAcquisitionEvents();
    SetDefaultFileName();
    SetDefaultInterval();
    // A long session must not fill the log: lift its text limit to the maximum.
    SendDlgItemMessageA(hwnd, IDC_LOG, EM_LIMITTEXT, 0, 0);
    controllerState = 0;
    startHeld = false;
    closing = false;
}

// A close ends a running acquisition the way its button would, and lets the worker finish (its
// memo included) before the dialog and the events go away.
static void OnCancel(HWND hwnd) {
    closing = true;
    if (controllerState == 1)
        StopAcquisition("Stop display!");
    else if (controllerState == 2)
        StopAcquisition("Stop save!");
    WaitForWorkerEnd();
    EndDialog(hwnd, -1);
    CloseAcquisitionEvents();
}

static void OnButton(int id) {
    if (startHeld || closing) return;
    switch (controllerState) {
    case 0:
        if (id == IDC_DISPLAY)
            StartAcquisition(1, "Start display!");
        else
            StartAcquisition(2, "Start save!");
        break;
    case 1:
        if (id == IDC_DISPLAY)
            StopAcquisition("Stop display!");
        break;
    case 2:
        if (id == IDC_RECORD)
            StopAcquisition("Stop save!");
        break;
    }
}

INT_PTR CALLBACK MeasureDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hwnd);
        return 1;
    case WM_ENDSESSION:
        // The session ends (logout, shutdown): the process is ended as soon as this returns,
        // so the acquisition stops and its memo is written first, as a close would do.
        if (wParam)
            OnCancel(hwnd);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            OnCancel(hwnd);
            return 1;
        case IDC_DISPLAY:
        case IDC_RECORD:
            OnButton(LOWORD(wParam));
            return 1;
        }
        return 0;
    }
    return 0;
}
