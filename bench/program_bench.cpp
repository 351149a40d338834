// Drives the real measurement dialog for bench/whole_program.py, through the Win32 API only: it
// presses the dialog's buttons and fills its fields as a user would, and prints a line
// "mark NAME SAMPLES" wherever the script is to read the process's CPU and memory from outside.
//   program_bench cpu PERIOD_MS SECONDS MODE [minimized]
//                                                  MODE 1 displays, 2 records
//   program_bench flat SAMPLES MODE                ticks as fast as the worker takes them
//   program_bench pace [minimized] PERIOD_MS:SAMPLES ...
//                                                  records C:\data\paceN.dat at each period,
//                                                  the dialog minimized if asked ("minimized
//                                                  no" when the window manager refused)
//   program_bench startup                          "mark painted" once the plot is first painted
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/pacing.h"
#include "app/dialog.h"
#include "dialogstate/dlgmain.h"
#include "plot/plot.h"
#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

// Samples shown so far: the count field tells its parent of every change.
std::atomic<long> shown{0};
// While set, each sample's second field update gives the worker its next tick at once.
std::atomic<bool> flatOut{false};

INT_PTR CALLBACK BenchDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        if (LOWORD(wParam) == IDC_COUNT)
            ++shown;
        else if (LOWORD(wParam) == IDC_ELAPSED && flatOut)
            SignalTick();
    }
    return MeasureDlgProc(hwnd, message, wParam, lParam);
}

void Mark(const char* name) {
    printf("mark %s %ld\n", name, shown.load());
    fflush(stdout);
    // The script reads /proc when it sees the line; the acquisition runs on meanwhile.
    Sleep(300);
}

// Waits until `n` samples have been shown, looking rarely so that the looking costs nothing.
void WaitForSamples(long n) {
    while (shown < n)
        Sleep(20);
}

void SetInterval(HWND dlg, int ms) {
    char cbuf[16];
    snprintf(cbuf, sizeof cbuf, "%d", ms);
    SetDlgItemTextA(dlg, IDC_INTERVAL, cbuf);
}

void Press(HWND dlg, int id) { SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// Stops the acquisition the button `id` started and waits until its worker has ended.
void Stop(HWND dlg, int id) {
    Press(dlg, id);
    WaitForSingleObject(hWorkerIdleEvent, INFINITE);
}

int ButtonOf(int mode) { return mode == 2 ? IDC_RECORD : IDC_DISPLAY; }

// Says whether the window manager did it: "minimized yes" or "minimized no".
void Minimize(HWND dlg) {
    // A window manager minimizes a window when it gets to it, and ignores the request for one
    // it does not manage yet: asked again until it is done.
    DWORD start = GetTickCount();
    while (!IsIconic(dlg) && GetTickCount() - start < 5000) {
        ShowWindow(dlg, SW_MINIMIZE);
        Sleep(100);
    }
    printf("minimized %s\n", IsIconic(dlg) ? "yes" : "no");
    fflush(stdout);
}

void RunCpu(HWND dlg, int period, int seconds, int mode, bool minimized) {
    if (minimized)
        Minimize(dlg);
    SetInterval(dlg, period);
    SetDlgItemTextA(dlg, IDC_FILENAME, "cpu");
    Press(dlg, ButtonOf(mode));
    WaitForSamples(50);
    Mark("begin");
    Sleep(static_cast<DWORD>(seconds) * 1000);
    Mark("end");
    Stop(dlg, ButtonOf(mode));
}

void RunFlat(HWND dlg, long samples, int mode) {
    // The timer is set, as the button sets it, but too slow to matter: the ticks come from the
    // sample before.
    SetInterval(dlg, 3600000);
    SetDlgItemTextA(dlg, IDC_FILENAME, "flat");
    flatOut = true;
    long warmup = samples / 20 + 100;
    Press(dlg, ButtonOf(mode));
    SignalTick();
    WaitForSamples(warmup);
    Mark("begin");
    WaitForSamples(warmup + samples);
    Mark("end");
    flatOut = false;
    Stop(dlg, ButtonOf(mode));
}

void RunPace(HWND dlg, bool minimized, const std::vector<std::pair<int, long>>& runs) {
    if (minimized)
        Minimize(dlg);
    for (const auto& run : runs) {
        char name[32];
        snprintf(name, sizeof name, "pace%d", run.first);
        SetInterval(dlg, run.first);
        SetDlgItemTextA(dlg, IDC_FILENAME, name);
        long start = shown;
        Press(dlg, IDC_RECORD);
        WaitForSamples(start + run.second);
        Stop(dlg, IDC_RECORD);
        printf("paced %d %s\n", run.first, name);
        fflush(stdout);
    }
}

// The plot's first paint validates its whole client area, which is invalid from its creation.
void RunStartup() {
    while (hwndDisplay == NULL)
        Sleep(1);
    HWND plot = hwndDisplay;
    while (GetUpdateRect(plot, NULL, FALSE))
        Sleep(1);
    printf("mark painted 0\n");
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    CreateDirectoryA("C:\\data", NULL);
    HINSTANCE instance = GetModuleHandleA(NULL);
    auto run_dialog = [instance] {
        return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MEASURE), NULL, BenchDlgProc, 0);
    };
    std::function<void(HWND)> body;
    if (what == "cpu" && (argc == 5 || (argc == 6 && strcmp(argv[5], "minimized") == 0))) {
        body = [&](HWND dlg) {
            RunCpu(dlg, atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), argc == 6);
        };
    } else if (what == "flat" && argc == 4) {
        body = [&](HWND dlg) { RunFlat(dlg, atol(argv[2]), atoi(argv[3])); };
    } else if (what == "pace" && argc > 2) {
        std::vector<std::pair<int, long>> runs;
        const bool minimized = strcmp(argv[2], "minimized") == 0;
        for (int i = minimized ? 3 : 2; i < argc; ++i) {
            int period = 0;
            long n = 0;
            if (sscanf(argv[i], "%d:%ld", &period, &n) == 2 && period > 0 && n > 0)
                runs.emplace_back(period, n);
        }
        body = [runs, minimized](HWND dlg) { RunPace(dlg, minimized, runs); };
    } else if (what == "startup") {
        body = [](HWND) { RunStartup(); };
    } else {
        fprintf(stderr,
                "usage: program_bench cpu PERIOD_MS SECONDS MODE [minimized] | flat SAMPLES MODE |"
                " pace [minimized] PERIOD_MS:SAMPLES ... | startup\n");
        return 2;
    }
    harness::Drive(reinterpret_cast<HWND volatile*>(&hDlgMain), run_dialog, body, 3600000);
    printf("mark done %ld\n", shown.load());
    fflush(stdout);
    return 0;
}
