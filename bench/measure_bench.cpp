// Prints how well the pacing timer keeps its period and what one sample costs, running the real
// dialog and the program's own functions through the Win32 API.
//   measure_bench [samples]
#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "acquisition/pacing.h"
#include "acquisition/worker.h"
#include "app/dialog.h"
#include "dialogstate/dlgmain.h"
#include "dialogstate/log.h"
#include "plot/plot.h"
#include "recording/datafile.h"
#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

int samples = 200;
// Written by the timer callback on the dialog's thread; read here once the timer is killed.
std::vector<double> ticks;
std::atomic<int> tickCount;

void CALLBACK RecordTick(HWND, UINT, UINT_PTR, DWORD) {
    double t;
    ReadSeconds(&t);
    ticks.push_back(t);
    ++tickCount;
}

void Summarise(const char* what, const std::vector<double>& seconds, double scale,
               const char* unit) {
    double sum = 0, sq = 0;
    for (double s : seconds)
        sum += s;
    double mean = sum / seconds.size();
    for (double s : seconds)
        sq += (s - mean) * (s - mean);
    printf("%-44s mean %9.3f %s  sd %8.3f %s  (n=%zu)\n", what, mean * scale, unit,
           std::sqrt(sq / seconds.size()) * scale, unit, seconds.size());
}

// The timer's period as the dialog's thread sees it, for a few requested periods.
void BenchPacing(HWND dlg) {
    const UINT periods[] = {10, 20, 100};
    for (UINT period : periods) {
        ticks.clear();
        ticks.reserve(samples + 16);
        tickCount = 0;
        int n = period >= 100 ? samples / 10 : samples;
        SetTimer(dlg, PACING_TIMER_ID, period, RecordTick);
        harness::WaitFor([&] { return tickCount > n; }, 120000);
        KillTimer(dlg, PACING_TIMER_ID);
        std::vector<double> gaps;
        for (size_t i = 1; i < ticks.size(); ++i)
            gaps.push_back(ticks[i] - ticks[i - 1]);
        char what[64];
        snprintf(what, sizeof what, "timer period, %u ms requested", period);
        Summarise(what, gaps, 1e3, "ms");
    }
}

// One sample's work from a worker thread, piece by piece: the two field updates, the dot, one
// record line of the data file, and one log line.
void BenchSample(HWND dlg) {
    std::vector<double> fields, dots, lines, logs;
    SetDlgItemTextA(dlg, IDC_FILENAME, "bench");
    WriteDataLine(0, "Number\tTime(s)\tX_Data\tY_Data\r\n");
    char cbuf[100];
    for (int n = 1; n <= samples; ++n) {
        double t0, t1, t2, t3;
        ReadSeconds(&t0);
        snprintf(cbuf, sizeof cbuf, "%d", n);
        SetDlgItemTextA(dlg, IDC_COUNT, cbuf);
        SetDlgItemTextA(dlg, IDC_ELAPSED, " 0.00");
        ReadSeconds(&t1);
        PlotPoint(n / 200.0, std::sin(n * 6.2831852 / 100.0) * 0.9);
        ReadSeconds(&t2);
        snprintf(cbuf, sizeof cbuf, "%d\t%f\t%f\t%f\r\n", n, t2, n * 2.5, 11.302293);
        WriteDataLine(1, cbuf);
        ReadSeconds(&t3);
        fields.push_back(t1 - t0);
        dots.push_back(t2 - t1);
        lines.push_back(t3 - t2);
    }
    for (int i = 0; i < samples / 10; ++i) {
        double t0, t1;
        ReadSeconds(&t0);
        PostLogMessage("Save data as C:\\data\\bench.dat");
        ReadSeconds(&t1);
        logs.push_back(t1 - t0);
    }
    Summarise("two field updates from the worker", fields, 1e6, "us");
    Summarise("one dot (PlotPoint)", dots, 1e6, "us");
    Summarise("one data line (open, seek, write, close)", lines, 1e6, "us");
    Summarise("one 30-character log line from the worker", logs, 1e6, "us");
    DeleteFileA("C:\\data\\bench.dat");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

int main(int argc, char** argv) {
    if (argc > 1)
        samples = atoi(argv[1]) > 10 ? atoi(argv[1]) : 10;
    CreateDirectoryA("C:\\data", NULL);
    harness::Drive(
        reinterpret_cast<HWND volatile*>(&hDlgMain),
        [] {
            char empty[] = "";
            return (INT_PTR)WinMain(GetModuleHandleA(NULL), NULL, empty, 1);
        },
        [](HWND dlg) {
            BenchPacing(dlg);
            BenchSample(dlg);
        },
        600000);
    return 0;
}
