// The measurement dialog as a user meets it: defaults, the command table, the log lines, the
// pacing of the worker and the close.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "acquisition/worker.h"
#include "tests/common/measure_harness.h"

using measure::Log;
using measure::Press;

namespace {

const char* const kMemo = "C:\\data\\test.txt";

#ifdef _WIN32
// Wine's timeEndPeriod accepts an end that no begin matches, its SetThreadExecutionState keeps one
// state for the whole process, and its SetProcessInformation refuses power throttling, so under
// Wine nothing would show an unbalanced call. This executable's import slots for these calls,
// which the program's calls go through too, are pointed at wrappers that behave as Windows does:
// an unmatched end is refused, each thread has its execution state, and the power throttling
// state is kept. The program looks SetProcessInformation up with GetProcAddress, whose slot
// hands it the wrapper.
std::map<UINT, int> g_periods_begun;
MMRESULT(WINAPI* g_begin_period)(UINT);
MMRESULT(WINAPI* g_end_period)(UINT);
EXECUTION_STATE(WINAPI* g_set_execution_state)(EXECUTION_STATE);
FARPROC(WINAPI* g_get_proc_address)(HMODULE, LPCSTR);
thread_local EXECUTION_STATE g_execution_state;
PROCESS_POWER_THROTTLING_STATE g_throttling = {PROCESS_POWER_THROTTLING_CURRENT_VERSION, 0, 0};

MMRESULT WINAPI CountedBeginPeriod(UINT period) {
    MMRESULT r = g_begin_period(period);
    if (r == TIMERR_NOERROR) ++g_periods_begun[period];
    return r;
}

MMRESULT WINAPI CountedEndPeriod(UINT period) {
    if (g_periods_begun[period] == 0) return TIMERR_NOCANDO;
    --g_periods_begun[period];
    return g_end_period(period);
}

// Windows returns the thread's previous state, always with ES_CONTINUOUS.
EXECUTION_STATE WINAPI ThreadExecutionState(EXECUTION_STATE flags) {
    g_set_execution_state(flags);
    EXECUTION_STATE previous = g_execution_state | ES_CONTINUOUS;
    if (flags & ES_CONTINUOUS) g_execution_state = flags & ~ES_CONTINUOUS;
    return previous;
}

BOOL WINAPI KeptThrottlingState(HANDLE process, PROCESS_INFORMATION_CLASS info_class, LPVOID info,
                                DWORD size) {
    if (process != GetCurrentProcess() || info_class != ProcessPowerThrottling ||
        size != sizeof g_throttling)
        return FALSE;
    g_throttling = *(PROCESS_POWER_THROTTLING_STATE*)info;
    return TRUE;
}

FARPROC WINAPI LookUpWithKeptThrottling(HMODULE module, LPCSTR name) {
    if ((ULONG_PTR)name > 0xFFFF && strcmp(name, "SetProcessInformation") == 0)
        return (FARPROC)(void (*)(void))KeptThrottlingState;
    return g_get_proc_address(module, name);
}

// Points this executable's import slot for `dll`'s `name` at `fn`; returns what it held, or NULL.
template <class Fn>
Fn ReplaceImport(const char* dll, const char* name, Fn fn) {
    BYTE* base = (BYTE*)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + imports); d->Name; ++d) {
        if (lstrcmpiA((const char*)(base + d->Name), dll) != 0) continue;
        auto* names = (IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
        auto* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                strcmp((const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name,
                       name) != 0)
                continue;
            DWORD protect;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protect);
            Fn held = (Fn)slots->u1.Function;
            slots->u1.Function = (ULONG_PTR)fn;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protect, &protect);
            return held;
        }
    }
    return NULL;
}

bool CountPowerRequests() {
    if (!g_begin_period) {
        g_begin_period = ReplaceImport("winmm.dll", "timeBeginPeriod", &CountedBeginPeriod);
        g_end_period = ReplaceImport("winmm.dll", "timeEndPeriod", &CountedEndPeriod);
        g_set_execution_state =
            ReplaceImport("kernel32.dll", "SetThreadExecutionState", &ThreadExecutionState);
        g_get_proc_address =
            ReplaceImport("kernel32.dll", "GetProcAddress", &LookUpWithKeptThrottling);
    }
    return g_begin_period && g_end_period && g_set_execution_state && g_get_proc_address;
}

PROCESS_POWER_THROTTLING_STATE ThrottlingState() { return g_throttling; }
#else
bool CountPowerRequests() { return true; }  // the layer keeps them as Windows does

PROCESS_POWER_THROTTLING_STATE ThrottlingState() {
    PROCESS_POWER_THROTTLING_STATE state = {PROCESS_POWER_THROTTLING_CURRENT_VERSION, 0, 0};
    GetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
    return state;
}
#endif

// True while the process holds a 1 ms timer resolution: an end then finds a begin to match, and
// the resolution is asked for again.
bool TimerResolutionHeld() {
    if (timeEndPeriod(TIMER_RESOLUTION_MS) != TIMERR_NOERROR) return false;
    timeBeginPeriod(TIMER_RESOLUTION_MS);
    return true;
}

// True while the calling thread asks the system to stay awake; the thread's state is left as it
// was.
bool SystemKeptAwake() {
    EXECUTION_STATE previous = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    SetThreadExecutionState(previous);
    return (previous & ES_SYSTEM_REQUIRED) != 0;
}

// True while Windows is told to honour the process's timer resolution, however its windows are
// shown: the mechanism is in the control mask, and off in the state mask.
bool TimerResolutionAlwaysHonoured() {
    PROCESS_POWER_THROTTLING_STATE state = ThrottlingState();
    return (state.ControlMask & PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION) &&
           !(state.StateMask & PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);
}

// What an acquisition asks of the system, as seen from the dialog's thread, which makes the
// requests (the execution state is the thread's own).
struct PowerRequests {
    bool resolution, awake, honoured;
    bool operator==(const PowerRequests& o) const {
        return resolution == o.resolution && awake == o.awake && honoured == o.honoured;
    }
};

std::ostream& operator<<(std::ostream& os, const PowerRequests& r) {
    return os << "{timer resolution " << r.resolution << ", kept awake " << r.awake
              << ", resolution honoured " << r.honoured << "}";
}

PowerRequests PowerRequestsHeld() {
    return {TimerResolutionHeld(), SystemKeptAwake(), TimerResolutionAlwaysHonoured()};
}

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\data", NULL);
        DeleteFileA(kMemo);
    }
};

TEST_F(Controller, StartsWithTheDefaultsAndAnEmptyLog) {
    std::string interval, name, count, elapsed, log;
    DWORD log_limit = 0;
    measure::Run([&](HWND dlg) {
        log_limit = (DWORD)SendDlgItemMessageA(dlg, IDC_LOG, EM_GETLIMITTEXT, 0, 0);
        interval = harness::FieldText(dlg, IDC_INTERVAL);
        name = harness::FieldText(dlg, IDC_FILENAME);
        count = harness::FieldText(dlg, IDC_COUNT);
        elapsed = harness::FieldText(dlg, IDC_ELAPSED);
        log = Log(dlg);
    });
    EXPECT_EQ(interval, "100");
    EXPECT_EQ(name, "test");
    EXPECT_EQ(count, "");
    EXPECT_EQ(elapsed, "");
    EXPECT_EQ(log, "");
    // A long session's log must not stop taking lines at the edit's default 30000 characters.
    EXPECT_GE(log_limit, 0x7FFFFFFEu);
}

TEST_F(Controller, DisplayStartAndStopLogTwoLinesAndTheOtherButtonIsIgnored) {
    std::string log;
    INT_PTR ignored = -1, other = -1;
    int state_after_ignored = -1;
    measure::Run([&](HWND dlg) {
        Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForCount(dlg, 2));
        // The record button while displaying, and a command of no button (an edit field's
        // notification): the dialog procedure answers them without acting. They run on this
        // thread because they touch no window.
        ignored = MeasureDlgProc(dlg, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
        other = MeasureDlgProc(dlg, WM_COMMAND, MAKEWPARAM(IDC_FILENAME, EN_CHANGE), 0);
        Press(dlg, IDC_RECORD);
        state_after_ignored = controllerState;
        Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_EQ(ignored, 1);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(state_after_ignored, 1);
    EXPECT_EQ(log, "Start display!\r\nStop display!\r\n");
}

TEST_F(Controller, RecordLogsStartFilePathAndStop) {
    std::string log;
    measure::Run([&](HWND dlg) {
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::LogContains(dlg, "test.dat\r\n"));
        Press(dlg, IDC_DISPLAY);  // ignored while recording
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
}

TEST_F(Controller, LogLinesGoWhereTheUserLeftTheCaret) {
    std::string log;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_LOG, "ab");
        SendDlgItemMessageA(dlg, IDC_LOG, EM_SETSEL, 1, 1);
        Press(dlg, IDC_DISPLAY);
        Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_EQ(log, "aStart display!\r\nStop display!\r\nb");
}

TEST_F(Controller, FirstSampleShowsCountOneAndZeroElapsedTime) {
    std::string count, elapsed;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "2000");
        Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForCount(dlg, 1, 10000));
        harness::WaitFor([&] { return !harness::FieldText(dlg, IDC_ELAPSED).empty(); });
        count = harness::FieldText(dlg, IDC_COUNT);
        elapsed = harness::FieldText(dlg, IDC_ELAPSED);
        Press(dlg, IDC_DISPLAY);
    });
    EXPECT_EQ(count, "1");
    EXPECT_EQ(elapsed, " 0.00");
}

// The interval field is read with room for nine characters and parsed as "%d" does; a field
// that holds no number or a negative one falls back to 100 ms and says so in the log.
TEST_F(Controller, IntervalFieldIsParsedLikeScanfD) {
    const char* const not_a_number = "Interval is not a number: 100 ms used\r\n";
    struct Row {
        const char* field;
        int period;
        const char* log;
    };
    const Row rows[] = {
        {"100", 100, ""},
        {"  250ms", 250, ""},  // leading blanks skipped, trailing letters ignored
        {"-5", 100, "Interval is negative: 100 ms used\r\n"},  // SetTimer would make it 24.8 days
        {"1234567890123", 123456789, ""},                      // only nine characters are read
        {"abc", 100, not_a_number},
        {"", 100, not_a_number},
        {"0", 0, ""},                  // passed on; the timer makes it its 10 ms minimum
        {"+20", 20, ""},               // a sign is part of a number
        {"999999999", 999999999, ""},  // nine digits, read whole
        {"\xEF\xBC\x91\xEF\xBC\x90\xEF\xBC\x90", 100, not_a_number},  // full-width digits
    };
    measure::Run([&](HWND dlg) {
        for (const Row& row : rows) {
            SetDlgItemTextA(dlg, IDC_LOG, "");
            SetDlgItemTextA(dlg, IDC_INTERVAL, row.field);
            EXPECT_EQ(ReadInterval(), row.period) << "field \"" << row.field << "\"";
            EXPECT_EQ(Log(dlg), row.log) << "field \"" << row.field << "\"";
        }
    });
}

// Ticks that fall due while the worker is busy collapse into one: the worker produces one
// sample for them, not a backlog; a stop wakes it once, and it leaves both events unsignalled.
TEST_F(Controller, CollapsedTicksGiveOneSampleAndAStopLeavesNoSignal) {
    std::string count;
    DWORD tick_left = 0, stop_left = 0;
    measure::Run([&](HWND dlg) {
        SetMode(1);
        SignalTick();
        SignalTick();
        StartWorker();
        ASSERT_TRUE(measure::WaitForCount(dlg, 1));
        SignalStop();
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        SetMode(0);
        count = harness::FieldText(dlg, IDC_COUNT);
        tick_left = WaitForSingleObject(hTickEvent, 0);
        stop_left = WaitForSingleObject(hStopEvent, 0);
    });
    EXPECT_EQ(count, "1");
    EXPECT_EQ(tick_left, (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(stop_left, (DWORD)WAIT_TIMEOUT);
}

// Stops and starts in quick succession: each stop ends the worker it was meant for, so after
// the last stop no worker goes on counting.
TEST_F(Controller, EveryStopEndsItsOwnWorkerWhenStartsFollowQuickly) {
    std::string log;
    bool still_counting = true;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        for (int i = 0; i < 3; ++i) {
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForCount(dlg, 1));
            Press(dlg, IDC_DISPLAY);
            SetDlgItemTextA(dlg, IDC_COUNT, "0");
        }
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        SetDlgItemTextA(dlg, IDC_COUNT, "0");
        still_counting = harness::WaitFor([&] { return measure::Count(dlg) != 0; }, 300);
        log = Log(dlg);
    });
    EXPECT_FALSE(still_counting);
    EXPECT_EQ(log, "Start display!\r\nStop display!\r\nStart display!\r\nStop display!\r\n"
                   "Start display!\r\nStop display!\r\n");
}

// Without events the worker cannot be paced: it ends without a sample, and the stop and the
// close still work.
TEST_F(Controller, WorkerEndsWithoutSamplesWhenItsEventsAreMissing) {
    std::string count, log;
    bool idle = false;
    measure::Run([&](HWND dlg) {
        CloseHandle(hStopEvent);
        CloseHandle(hTickEvent);
        hStopEvent = hTickEvent = NULL;
        Press(dlg, IDC_DISPLAY);
        idle = measure::WaitForWorkerIdle();
        Press(dlg, IDC_DISPLAY);
        count = harness::FieldText(dlg, IDC_COUNT);
        log = Log(dlg);
    });
    EXPECT_TRUE(idle);
    EXPECT_EQ(count, "");
    EXPECT_EQ(log, "Start display!\r\nStop display!\r\n");
}

// Closing while recording stops the acquisition first: the worker ends and saves the memo
// before the dialog goes away.
TEST_F(Controller, CloseWhileRecordingStopsTheWorkerAndSavesTheMemo) {
    DeleteFileA("C:\\data\\test.dat");
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_MEMO, "closing");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 2));
    });
    std::string memo, data;
    EXPECT_TRUE(measure::ReadFileText(kMemo, &memo));
    EXPECT_EQ(memo, "closing");
    ASSERT_TRUE(measure::ReadFileText("C:\\data\\test.dat", &data));
    EXPECT_EQ(data.rfind("Number\tTime(s)\tX_Data\tY_Data\r\n1\t", 0), 0u);
}

// A start pressed while the stopped worker is still in its sample waits for that worker to end
// before the mode changes: the old worker does not record for the new acquisition.
TEST_F(Controller, StartRightAfterAStopDoesNotHandTheOldWorkerTheNewMode) {
    const char* const data = "C:\\data\\test.dat";
    DeleteFileA(data);
    std::string log;
    bool recorded = true;
    measure::RunStepped([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "60000");  // no tick but the test's own
        Press(dlg, IDC_DISPLAY);
        measure::OnDialogThread(dlg, [](HWND hwnd) {
            measure::HoldWorkerInASample();
            MeasureDlgProc(hwnd, WM_COMMAND, IDC_DISPLAY, 0);
            MeasureDlgProc(hwnd, WM_COMMAND, IDC_RECORD, 0);
        });
        recorded = measure::FileExists(data);
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_FALSE(recorded);
    EXPECT_EQ(log, "Start display!\r\nStop display!\r\nStart save!\r\nStop save!\r\n");
}

// Presses 表示 from the count field's change notification, which the worker held in its sample
// causes while a start or a close waits for it: a press sent from another thread arrives just so.
bool g_press_armed;
int g_state_after_press;
INT_PTR CALLBACK PressWhileTheDialogWaits(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_COUNT && HIWORD(wParam) == EN_CHANGE &&
        g_press_armed) {
        g_press_armed = false;
        MeasureDlgProc(hwnd, WM_COMMAND, IDC_DISPLAY, 0);
        g_state_after_press = controllerState;
    }
    return measure::SteppedDlgProc(hwnd, message, wParam, lParam);
}

// A press that arrives while a start or a close waits for the stopped worker is ignored: it would
// otherwise start an acquisition inside the wait, whose worker the wait would then wait for
// without end.
TEST_F(Controller, PressWhileAStartOrACloseWaitsForTheWorkerIsIgnored) {
    struct Row {
        const char* waiting;
        int command;  // pressed on the dialog's thread while the worker is held in a sample
        const char* log;
    };
    const Row rows[] = {
        {"a start", IDC_RECORD, "Start display!\r\nStop display!\r\nStart save!\r\nStop save!\r\n"},
        {"a close", IDCANCEL, "Start display!\r\nStop display!\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.waiting);
        std::string log;
        g_state_after_press = -1;
        measure::RunStepped(
            [&](HWND dlg) {
                SetDlgItemTextA(dlg, IDC_INTERVAL, "60000");  // no tick but the test's own
                Press(dlg, IDC_DISPLAY);
                measure::OnDialogThread(dlg, [&](HWND hwnd) {
                    measure::HoldWorkerInASample();
                    if (row.command == IDC_RECORD) MeasureDlgProc(hwnd, WM_COMMAND, IDC_DISPLAY, 0);
                    g_press_armed = true;
                    MeasureDlgProc(hwnd, WM_COMMAND, row.command, 0);
                    log = Log(hwnd);
                });
                if (row.command == IDC_RECORD) {
                    Press(dlg, IDC_RECORD);
                    ASSERT_TRUE(measure::WaitForWorkerIdle());
                    log = Log(dlg);
                }
            },
            PressWhileTheDialogWaits);
        EXPECT_FALSE(g_press_armed);
        EXPECT_EQ(g_state_after_press, 0);
        EXPECT_EQ(log, row.log);
    }
}

// Presses stop from the log's change notification once the worker's line has begun to arrive.
// A line typed byte by byte would have the stop's line land inside it.
bool g_stop_armed;
INT_PTR CALLBACK StopOnWorkersLogLine(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_LOG && HIWORD(wParam) == EN_CHANGE &&
        g_stop_armed && Log(hwnd).find("Save") != std::string::npos) {
        g_stop_armed = false;
        MeasureDlgProc(hwnd, WM_COMMAND, IDC_RECORD, 0);
    }
    return measure::SteppedDlgProc(hwnd, message, wParam, lParam);
}

TEST_F(Controller, StopDuringTheWorkersLogLineKeepsBothLinesWhole) {
    std::string log;
    g_stop_armed = true;
    measure::RunStepped(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::LogContains(dlg, "Stop save!"));
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            log = Log(dlg);
        },
        StopOnWorkersLogLine);
    EXPECT_FALSE(g_stop_armed);
    EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
}

// Closing the dialog while a worker runs, or while a stopped one is still finishing its sample:
// the close waits for the worker, whose memo is saved from the fields before they go away.
TEST_F(Controller, CloseWaitsForARunningOrFinishingWorker) {
    struct Row {
        const char* memo;
        bool stop_first;  // the worker is held in a sample, stopped, then the dialog closed
    };
    const Row rows[] = {{"displaying", false}, {"finishing", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.memo);
        DeleteFileA(kMemo);
        measure::RunStepped([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_MEMO, row.memo);
            if (!row.stop_first) {
                SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
                Press(dlg, IDC_DISPLAY);
                ASSERT_TRUE(measure::WaitForCount(dlg, 2));
                return;  // the harness closes the dialog
            }
            SetDlgItemTextA(dlg, IDC_INTERVAL, "60000");
            Press(dlg, IDC_DISPLAY);
            measure::OnDialogThread(dlg, [](HWND hwnd) {
                measure::HoldWorkerInASample();
                MeasureDlgProc(hwnd, WM_COMMAND, IDC_DISPLAY, 0);
                MeasureDlgProc(hwnd, WM_COMMAND, IDCANCEL, 0);
            });
        });
        std::string memo;
        EXPECT_TRUE(measure::ReadFileText(kMemo, &memo));
        EXPECT_EQ(memo, row.memo);
    }
}

// While an acquisition runs the program asks the system for what a steady pace needs: a 1 ms
// timer resolution (Windows fires timers on its 15.6 ms tick otherwise), that the machine stay
// awake (a timer is no activity to the power plan), and that Windows 11 honour the resolution
// even when the dialog is minimized. Each request is given back at the stop or the close,
// however quickly stops and starts follow one another.
TEST_F(Controller, PowerRequestsAreHeldWhileAnAcquisitionRuns) {
    ASSERT_TRUE(CountPowerRequests());
    const PowerRequests none = {false, false, false}, all = {true, true, true};
    ASSERT_EQ(PowerRequestsHeld(), none);
    struct Row {
        const char* presses;
        int count;  // of 表示: odd leaves the acquisition running for the close
    };
    const Row rows[] = {{"start, stop", 2}, {"start, close", 1}, {"quick stops and starts", 5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.presses);
        PowerRequests held = none;
        measure::RunStepped([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            for (int i = 0; i < row.count; ++i) Press(dlg, IDC_DISPLAY);
            measure::OnDialogThread(dlg, [&](HWND) { held = PowerRequestsHeld(); });
        });
        EXPECT_EQ(held, row.count % 2 == 1 ? all : none);
        // This thread ran the dialog.
        EXPECT_EQ(PowerRequestsHeld(), none) << "after the close";
    }
}

// The interval field sets the timer's period: the period seen by the worker (elapsed time over
// samples) follows the field, five times longer at 100 ms than at 20 ms.
TEST_F(Controller, SamplePeriodFollowsTheIntervalField) {
    struct Row {
        const char* interval;
        int samples;
        double period;
    };
    Row rows[] = {{"20", 16, 0}, {"100", 6, 0}};
    for (Row& row : rows) {
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, row.interval);
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForCount(dlg, row.samples));
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            // Both fields belong to the last sample: each sample sets them in turn.
            int count = measure::Count(dlg);
            double elapsed = atof(harness::FieldText(dlg, IDC_ELAPSED).c_str());
            row.period = elapsed / (count - 1);
        });
    }
    EXPECT_GT(rows[0].period, 0.015) << "20 ms interval";
    const double ratio = rows[1].period / rows[0].period;
    EXPECT_GT(ratio, 3.0) << rows[0].period << " s at 20 ms, " << rows[1].period << " s at 100 ms";
    EXPECT_LT(ratio, 7.0) << rows[0].period << " s at 20 ms, " << rows[1].period << " s at 100 ms";
}

}  // namespace
