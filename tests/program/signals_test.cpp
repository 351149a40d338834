// SIGTERM, SIGHUP and SIGINT end the program as the end of a session does: the recording stops,
// the memo is saved, and the process exits with code 0. Each case runs in a child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "tests/common/measure_harness.h"
#include "w32_faults.h"

namespace {

const char* const kData = "C:\\data\\test.dat";
const char* const kMemo = "C:\\data\\test.txt";

// When the signal comes, and from where.
enum When {
    kIdle,        // the dialog's thread is in its message loop
    kMidSample,   // the worker is inside a record's write, which then takes a while more
    kCloseWaits,  // a close waits for the worker, which is inside a record's write
};
const char* const kWhenNames[] = {"", "_MidSample", "_WhileACloseWaits"};

std::atomic<bool> g_session_ending{false};

INT_PTR CALLBACK NoteTheSessionEnd(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) g_session_ending = true;
    return measure::SteppedDlgProc(hwnd, message, wParam, lParam);
}

// Records the dialog until the signal ends the process; never returns when all goes well.
void RecordUntilSignalled(int sig, When when) {
    measure::RunStepped(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "20");
            SetDlgItemTextA(dlg, IDC_MEMO, "ended by a signal");
            measure::Press(dlg, IDC_RECORD);
            if (!measure::WaitForCount(dlg, 3)) return;
            if (when == kMidSample) {
                w32::faults::Before(w32::faults::Call::WriteFile, [sig](const char*) {
                    kill(getpid(), sig);
                    Sleep(50);
                });
            } else if (when == kCloseWaits) {
                w32::faults::Before(w32::faults::Call::WriteFile, [sig, dlg](const char*) {
                    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
                    // The close's line is logged before its wait: from then on the dialog's
                    // thread serves these reads of the log from that wait.
                    measure::LogContains(dlg, "Stop save!");
                    kill(getpid(), sig);
                    harness::WaitFor([] { return g_session_ending.load(); });
                });
            } else {
                kill(getpid(), sig);
            }
            Sleep(10000);
        },
        NoteTheSessionEnd, 30000);
}

struct SignalCase {
    int sig;
    When when;
};

// One case per test: a death test's child runs its test from the start up to that case.
class Signals : public ::testing::TestWithParam<SignalCase> {};

TEST_P(Signals, EndTheProgramAsTheEndOfASessionDoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const SignalCase row = GetParam();
    CreateDirectoryA("C:\\data", NULL);
    DeleteFileA(kData);
    DeleteFileA(kMemo);
    EXPECT_EXIT(RecordUntilSignalled(row.sig, row.when), ::testing::ExitedWithCode(0), "");
    std::string memo, data;
    EXPECT_TRUE(measure::ReadFileText(kMemo, &memo));
    EXPECT_EQ(memo, "ended by a signal");
    ASSERT_TRUE(measure::ReadFileText(kData, &data));
    // Every record is whole and numbered in order, the last one included.
    int expected = 1;
    measure::ForEachRecord(data, [&](const measure::Record& r) {
        EXPECT_EQ(r.number, std::to_string(expected++));
        return true;
    });
    EXPECT_GE(expected, 3);  // samples 1 and 2 were done when the count showed 3
}

INSTANTIATE_TEST_SUITE_P(
    Each, Signals,
    ::testing::Values(SignalCase{SIGTERM, kIdle},      // kill, a service manager's stop, shutdown
                      SignalCase{SIGHUP, kIdle},       // the terminal or the session went away
                      SignalCase{SIGINT, kMidSample},  // Ctrl+C, while the worker is mid-sample
                      SignalCase{SIGTERM, kCloseWaits}),  // acted on inside the close's wait
    [](const ::testing::TestParamInfo<SignalCase>& info) {
        return std::string(sigabbrev_np(info.param.sig)) + kWhenNames[info.param.when];
    });

}  // namespace
