// Pacing: the timer's callback signals a tick; the worker waits for ticks and for the stop.
#include "acquisition/pacing.h"

#include <process.h>

#include <cstdio>

#include "acquisition/worker.h"
#include "dialogstate/dlgmain.h"
#include "dialogstate/log.h"
#include "res/resource.h"

HANDLE hStopEvent;
HANDLE hTickEvent;
HANDLE hWorkerIdleEvent;
std::atomic<int> acquisitionMode{0};
static unsigned threadID;

static HANDLE CreateLoggedEvent(BOOL manualReset, BOOL initialState) {
    HANDLE h = CreateEventA(NULL, manualReset, initialState, NULL);
    if (h == NULL)
        PostLogMessage("error: hComEvent = CreateEvent()");
    return h;
}

void CreateAcquisitionEvents() {
    hStopEvent = CreateLoggedEvent(FALSE, FALSE);
    hTickEvent = CreateLoggedEvent(FALSE, FALSE);
    hWorkerIdleEvent = CreateLoggedEvent(TRUE, TRUE);
}

void CloseAcquisitionEvents() {
    CloseHandle(hStopEvent);
    CloseHandle(hTickEvent);
    CloseHandle(hWorkerIdleEvent);
    hStopEvent = hTickEvent = hWorkerIdleEvent = NULL;
}

void SetMode(int mode) { acquisitionMode = mode; }

// Waits until the previous worker has ended. Meanwhile this (the dialog's) thread keeps serving
// the worker's calls to windows (field reads, log characters), which only it can handle;
// blocking outright would deadlock the two threads. Without the event there is nothing to wait
// for: the waits of such a worker fail at once and it ends by itself.
void WaitForWorkerEnd() {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &hWorkerIdleEvent, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1)
            return;
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// A start soon after a stop waits for the stopped worker to take its stop, so that there is
// never more than one worker on the two events and each stop ends the worker it was meant for.
void StartWorker() {
    WaitForWorkerEnd();
    ResetEvent(hWorkerIdleEvent);
    HANDLE hThread = (HANDLE)_beginthreadex(NULL, 0, AcquisitionThread, NULL, 0, &threadID);
    if (hThread == NULL)
        SetEvent(hWorkerIdleEvent);
    else
        CloseHandle(hThread);
}

// A negative period would reach SetTimer as a huge unsigned one: no tick for 24.8 days.
int ReadInterval() {
    char cbuf[50] = {0};
    int period;
    GetDlgItemTextA(hDlgMain, IDC_INTERVAL, cbuf, 10);
    const char* format = NULL;
    if (sscanf(cbuf, "%d", &period) != 1)
        format = "Interval is not a number: %d ms used";
    else if (period < 0)
        format = "Interval is negative: %d ms used";
    if (format != NULL) {
        char msg[80];
        snprintf(msg, sizeof msg, format, DEFAULT_INTERVAL_MS);
        PostLogMessage(msg);
        period = DEFAULT_INTERVAL_MS;
    }
    return period;
}

// Windows fires timers on its system tick, 15.6 ms by default, unless a finer resolution is
// asked for. It is asked for only while an acquisition runs: a finer tick costs the machine power.
static bool timerResolutionRaised;
// A periodic timer is no activity to the power plan: without this request the system would
// sleep in the middle of an acquisition once it has been idle long enough.
static bool systemKeptAwake;
// Windows 11 may leave a process whose windows are all minimized or hidden at the default
// resolution despite timeBeginPeriod, unless the process asks for its requests to be honoured.
static bool timerResolutionHonoured;

typedef BOOL(WINAPI* SetProcessInformationProc)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// With `always`, asks Windows to honour the process's timer resolution whatever its windows
// show; without, leaves that to Windows again. Windows before 8 has no such call, and one without
// the mechanism refuses it: neither is an error, the pace is then Windows' own.
static bool HonourTimerResolution(bool always) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel32 ? GetProcAddress(kernel32, "SetProcessInformation") : NULL;
    if (proc == NULL)
        return false;
    PROCESS_POWER_THROTTLING_STATE state;
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    // In the control mask the mechanism is taken over from Windows; a state mask without it
    // turns the ignoring of timer resolution requests off.
    state.ControlMask = always ? PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION : 0;
    state.StateMask = 0;
    SetProcessInformationProc setProcessInformation =
        (SetProcessInformationProc)(void (*)(void))proc;
    return setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state,
                                 sizeof state) != FALSE;
}

static void CALLBACK PacingTimerProc(HWND, UINT, UINT_PTR, DWORD);

// Each request is given back only if it was granted: an unmatched timeEndPeriod fails on Windows.
void StartPacingTimer() {
    if (!timerResolutionRaised)
        timerResolutionRaised = timeBeginPeriod(TIMER_RESOLUTION_MS) == TIMERR_NOERROR;
    if (!timerResolutionHonoured)
        timerResolutionHonoured = HonourTimerResolution(true);
    if (!systemKeptAwake)
        systemKeptAwake = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    int period = ReadInterval();
    if (SetTimer(hDlgMain, PACING_TIMER_ID, (UINT)period, PacingTimerProc) == 0)
        PostLogMessage("SetTimer function fails to create a timer!");
}

void StopPacingTimer() {
    KillTimer(hDlgMain, PACING_TIMER_ID);
    if (timerResolutionRaised) timeEndPeriod(TIMER_RESOLUTION_MS);
    timerResolutionRaised = false;
    if (timerResolutionHonoured) HonourTimerResolution(false);
    timerResolutionHonoured = false;
    if (systemKeptAwake) SetThreadExecutionState(ES_CONTINUOUS);
    systemKeptAwake = false;
}

static void CALLBACK PacingTimerProc(HWND, UINT, UINT_PTR, DWORD) { SignalTick(); }

void SignalTick() { SetEvent(hTickEvent); }

void SignalStop() {
    SetEvent(hStopEvent);
    SetEvent(hTickEvent);
}
