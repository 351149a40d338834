// SetTimer/KillTimer on the dialog's thread: ids, clamped periods, repetition, collapse; the
// timer resolution's begins and ends.
#include <gtest/gtest.h>

#include <atomic>
#include <windows.h>

#include <functional>

#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

const UINT kStartRepeat = WM_APP + 1;
const UINT kStartBusy = WM_APP + 2;
const UINT kOnOwner = WM_APP + 3;  // sent: runs the std::function<void()> at lParam
const UINT_PTR kPlainId = 9;       // a timer without a procedure
std::atomic<UINT_PTR> g_plain_id{kPlainId};
const UINT_PTR kTickId = 7;
const UINT_PTR kCheckId = 8;

HWND volatile g_dlg;
std::atomic<int> g_ticks{};
std::atomic<int> g_plain_ticks{};
std::atomic<int> g_ticks_after_kill{-1};
std::atomic<bool> g_done{};
DWORD g_tick_times[8];
std::atomic<HWND> g_tick_hwnd{};
std::atomic<UINT> g_tick_msg{};

void CALLBACK CheckAfterKill(HWND hwnd, UINT, UINT_PTR, DWORD) {
    KillTimer(hwnd, kCheckId);
    g_ticks_after_kill = g_ticks - 5;
    g_done = true;
}

void CALLBACK CountTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD) {
    if (id != kTickId) return;
    g_tick_hwnd = hwnd;
    g_tick_msg = msg;
    if (++g_ticks == 5) {
        KillTimer(hwnd, kTickId);
        // A later look shows whether any tick came after the kill.
        SetTimer(hwnd, kCheckId, 100, CheckAfterKill);
    }
}

// Milliseconds of the performance counter, wrapping as GetTickCount does. Whole seconds and the
// rest are scaled apart: the counter times 1000 would overflow after 106 days of uptime at the
// layer's 1 GHz.
DWORD NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    const LONGLONG seconds = t.QuadPart / f.QuadPart, rest = t.QuadPart % f.QuadPart;
    return static_cast<DWORD>(seconds * 1000 + rest * 1000 / f.QuadPart);
}

// A 10 ms timer whose first callback is busy for 100 ms: the ticks that fall due meanwhile
// collapse into one, which comes when the callback returns; the next keep their period. Stored-up
// ticks would instead come back to back as soon as it returns.
std::atomic<DWORD> g_busy_end{};

void CALLBACK BusyTick(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    DWORD start = NowMs();
    int n = g_ticks;
    if (n < 8) g_tick_times[n] = start;
    g_ticks = n + 1;
    if (n == 0) {
        while (NowMs() - start < 100) {
        }
        g_busy_end = NowMs();
    }
    if (n + 1 == 6) {
        KillTimer(hwnd, id);
        g_done = true;
    }
}

INT_PTR CALLBACK TimerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kOnOwner:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case WM_TIMER:
            if (wParam == g_plain_id && ++g_plain_ticks == 3) KillTimer(hwnd, wParam);
            return TRUE;
        case WM_INITDIALOG:
            g_dlg = hwnd;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) EndDialog(hwnd, IDCANCEL);
            return TRUE;
        case kStartRepeat:
            SetTimer(hwnd, kTickId, 20, CountTick);
            return TRUE;
        case kStartBusy:
            SetTimer(hwnd, kTickId, 10, BusyTick);
            return TRUE;
    }
    return FALSE;
}

// Runs `fn` on the dialog's thread, which owns the dialog and its timers.
void OnOwner(HWND dlg, const std::function<void()>& fn) {
    SendMessageA(dlg, kOnOwner, 0, reinterpret_cast<LPARAM>(&fn));
}

void RunTimerDialog(const std::function<void(HWND)>& body) {
    g_ticks = 0;
    g_plain_ticks = 0;
    g_done = false;
    harness::Drive(
        &g_dlg,
        [] {
            return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MEASURE),
                                   nullptr, TimerProc, 0);
        },
        body);
}

// Counts ticks; the third stops the timer and notes the time.
std::atomic<DWORD> g_set_at{}, g_third_at{};

void CALLBACK StopAtThirdTick(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    if (++g_ticks == 3) {
        g_third_at = NowMs();
        KillTimer(hwnd, id);
        g_done = true;
    }
}

TEST(Timers, SetTimerReturnsTheIdWhateverThePeriod) {
    // Each row: a period, clamped by Win32 to [USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM], the
    // earliest the third tick may come (ms after SetTimer; 0: no tick at all), and how long to
    // wait for it.
    struct Row {
        UINT period;
        DWORD min_ms, wait_ms;
    };
    const Row rows[] = {
        {100, 280, 2000},                 // an ordinary period
        {0, 25, 2000},                    // raised to the minimum, 10 ms
        {static_cast<UINT>(-5), 0, 300},  // a negative int: lowered to the maximum, 24.8 days
    };
    RunTimerDialog([&rows](HWND dlg) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.period);
            g_ticks = 0;
            g_done = false;
            OnOwner(dlg, [dlg, &row] {
                g_set_at = NowMs();
                EXPECT_EQ(SetTimer(dlg, 100, row.period, StopAtThirdTick), 100u);
            });
            bool ticked = harness::WaitFor([] { return g_done.load(); }, row.wait_ms);
            if (row.min_ms) {
                EXPECT_TRUE(ticked);
                EXPECT_GE(g_third_at - g_set_at, row.min_ms);
            } else {
                EXPECT_EQ(g_ticks, 0);
                OnOwner(dlg, [dlg] { EXPECT_TRUE(KillTimer(dlg, 100)); });
            }
        }
        OnOwner(dlg, [dlg] {
            // A timer that was never set cannot be killed.
            EXPECT_FALSE(KillTimer(dlg, 100));
            // A window handle that names no window (any more): no timer.
            HWND child = CreateWindowExA(0, "Static", "", WS_CHILD, 0, 0, 5, 5, dlg, nullptr,
                                         GetModuleHandleA(nullptr), nullptr);
            ASSERT_NE(child, nullptr);
            SendMessageA(child, WM_CLOSE, 0, 0);  // DefWindowProc's WM_CLOSE destroys it
            ASSERT_FALSE(IsWindow(child));
            SetLastError(0xdeadbeef);
            EXPECT_EQ(SetTimer(child, 100, 100, nullptr), 0u);
            // Windows sets 1400; Wine answers 6.
            EXPECT_TRUE(GetLastError() == DWORD(ERROR_INVALID_WINDOW_HANDLE) ||
                        GetLastError() == DWORD(ERROR_INVALID_HANDLE))
                << GetLastError();
        });
    });
}

// WM_TIMER carries the timer's id, and KillTimer with that id (on the third tick) ends it.
TEST(Timers, WithoutAProcTheWindowGetsWmTimer) {
    struct Row {
        UINT_PTR id;
        UINT_PTR returned;
    };
    const Row rows[] = {
        {kPlainId, kPlainId},
        {0, 1},  // id 0 is a timer like any other; SetTimer reports it as 1, never as 0
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        g_plain_id = r.id;
        RunTimerDialog([&r](HWND dlg) {
            OnOwner(dlg, [&] { EXPECT_EQ(SetTimer(dlg, r.id, 10, nullptr), r.returned); });
            EXPECT_TRUE(harness::WaitFor([] { return g_plain_ticks >= 3; }));
            OnOwner(dlg, [&] { EXPECT_FALSE(KillTimer(dlg, r.id)) << "already killed"; });
        });
    }
    g_plain_id = kPlainId;
}

TEST(Timers, FiresRepeatedlyUntilKilled) {
    RunTimerDialog([](HWND dlg) {
        ASSERT_TRUE(PostMessageA(dlg, kStartRepeat, 0, 0));
        ASSERT_TRUE(harness::WaitFor([] { return g_done.load(); }));
        EXPECT_EQ(g_ticks_after_kill, 0);
        EXPECT_EQ(g_tick_hwnd, dlg);
        EXPECT_EQ(g_tick_msg, UINT(WM_TIMER));
    });
}

TEST(Timers, TicksDueWhileBusyCollapseIntoOne) {
    RunTimerDialog([](HWND dlg) {
        ASSERT_TRUE(PostMessageA(dlg, kStartBusy, 0, 0));
        ASSERT_TRUE(harness::WaitFor([] { return g_done.load(); }));
        // Of ticks 1 to 5 after the busy one, at most two come within 5 ms of its end: the
        // collapsed tick and one that fell due anyway. A backlog would bring all five at once.
        int back_to_back = 0;
        for (int i = 1; i < 6; ++i)
            back_to_back += g_tick_times[i] - g_busy_end < 5;
        EXPECT_LE(back_to_back, 2);
    });
}

// A timer resolution is asked for and given back in pairs, per period; 0 ms is none at all.
TEST(Timers, ResolutionIsAskedForAndGivenBackInPairs) {
    EXPECT_EQ(timeBeginPeriod(0), MMRESULT(TIMERR_NOCANDO));
    EXPECT_EQ(timeEndPeriod(0), MMRESULT(TIMERR_NOCANDO));
    EXPECT_EQ(timeBeginPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeBeginPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeBeginPeriod(5), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOERROR));
#ifndef _WIN32
    // Windows refuses an end that no begin of its period matches (the 5 ms begin does not);
    // Wine does not count begins and accepts it: checked on the layer only.
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOCANDO));
#endif
    EXPECT_EQ(timeEndPeriod(5), MMRESULT(TIMERR_NOERROR));
}

// The call that keeps the timer resolution honoured on Windows 11 is missing before Windows 8,
// so it is looked up at run time: kernel32 is found under any spelling of its name, the call in
// it by its exact name, and a name kernel32 does not export is not found.

}  // namespace
