// The simulated instrument: waits for ticks, produces, shows, plots and records one sample each.
#include "acquisition/worker.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "acquisition/pacing.h"
#include "dialogstate/dlgmain.h"
#include "plot/plot.h"
#include "recording/claim.h"
#include "recording/datafile.h"
#include "recording/memofile.h"
#include "res/resource.h"

ULONGLONG testSeamFirstSampleNumber = 1;

// Room for the longest record line: "%f" of any double and a 20-digit sample number.
#define WORKER_CBUF_SIZE 1100

void ReadSeconds(double* seconds) {
    LARGE_INTEGER qp_Freq, qp_Count;
    QueryPerformanceFrequency(&qp_Freq);
    QueryPerformanceCounter(&qp_Count);
    *seconds = (double)qp_Count.QuadPart / (double)qp_Freq.QuadPart;
}

// Waits for the next tick; false when the acquisition is to end: the stop was signalled, or a
// wait failed (an event is missing), in which case the worker must not run unpaced.
static bool WaitForTick(bool* stopped) {
    *stopped = false;
    if (WaitForSingleObject(hTickEvent, INFINITE) != WAIT_OBJECT_0)
        return false;
    DWORD r = WaitForSingleObject(hStopEvent, 0);
    *stopped = (r == WAIT_OBJECT_0);
    return r == WAIT_TIMEOUT;
}

unsigned __stdcall AcquisitionThread(void*) {
    char cbuf[WORKER_CBUF_SIZE];
    memset(cbuf, 0, sizeof cbuf);
    // 64 bits: the number neither turns negative past 2^31 nor wraps past 2^32 (497 days at
    // 10 ms), however long the acquisition runs.
    ULONGLONG n = testSeamFirstSampleNumber;
    // What happens once per acquisition hangs on this, never on the number's value.
    bool firstSample = true;
    double time_0 = 0.0, time_1 = 0.0, elapsed = 0.0;
    bool stopped;

    while (WaitForTick(&stopped)) {
        snprintf(cbuf, sizeof cbuf, "%llu", (unsigned long long)n);
        SetDlgItemTextA(hDlgMain, IDC_COUNT, cbuf);
        if (firstSample) {
            ClearPlot();
            elapsed = 0.0;
            ReadSeconds(&time_0);
        }
        double X = (double)n / 100.0 * 250.0;
        double Y = sin((double)n * 6.2831852 / 100.0) * 180.0;
        ReadSeconds(&time_1);
        elapsed = (time_1 - time_0) + elapsed;
        time_0 = time_1;
        snprintf(cbuf, sizeof cbuf, "%5.2f", elapsed);
        SetDlgItemTextA(hDlgMain, IDC_ELAPSED, cbuf);
        PlotPoint(X / 500.0, Y / 200.0);
        if (acquisitionMode == 2) {
            if (firstSample) {
                snprintf(cbuf, sizeof cbuf, "%s", DATA_HEADER);
                WriteDataLine(0, cbuf);
            }
            snprintf(cbuf, sizeof cbuf, "%llu\t%f\t%f\t%f\r\n", (unsigned long long)n, elapsed, X,
                     Y);
            WriteDataLine(1, cbuf);
        }
        n++;
        firstSample = false;
    }
    FinishDataFile();
    // A failed wait is no end the user asked for: the memo is kept for the real stop.
    if (stopped)
        WriteMemoFile();
    EndRecordingClaims();
    SetEvent(hWorkerIdleEvent);
    return 0;
}
