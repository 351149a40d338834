// Sent and posted messages between a worker thread and the thread that owns the windows.
#include <gtest/gtest.h>

#include <atomic>
#include <process.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

const UINT kBusy = WM_APP + 1;            // posted: keeps the owner busy for a while
const UINT kWaitForWorker = WM_APP + 2;   // posted: the owner waits for a worker's send
const UINT kDestroyPending = WM_APP + 3;  // posted: destroys a window with a send pending
const UINT kEcho = WM_APP + 10;           // sent to the probe window: returns wParam + 1

HWND volatile g_dlg;
std::atomic<HWND> g_probe{};  // a child window of a registered class
std::atomic<DWORD> g_owner_thread{};
std::atomic<DWORD> g_echo_thread{};
std::atomic<bool> g_busy_started{};
std::atomic<DWORD> g_busy_done{};  // tick count at which kBusy's handling ended
std::atomic<int> g_outcome{};      // what the owner saw in the kWaitForWorker / kDestroyPending case
HANDLE g_worker_event;

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kEcho) {
        g_echo_thread = GetCurrentThreadId();
        return static_cast<LRESULT>(wParam + 1);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

unsigned __stdcall SetTextWorker(void*) {
    SetDlgItemTextA(g_dlg, IDC_INTERVAL_UNIT, "set by worker");
    SetEvent(g_worker_event);
    return 0;
}

LRESULT g_pending_result;
unsigned __stdcall EchoWorker(void*) {
    g_pending_result = SendMessageA(g_probe, kEcho, 41, 0);
    SetEvent(g_worker_event);
    return 0;
}

// The owner waits for the worker's event while still serving what the worker sends it, as a
// Win32 thread must: MsgWaitForMultipleObjects wakes for the send, PeekMessageA serves it.
int WaitServingSends(HANDLE event) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return 1;
        if (r != WAIT_OBJECT_0 + 1) return -static_cast<int>(r);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

INT_PTR CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            g_owner_thread = GetCurrentThreadId();
            g_probe = CreateWindowExA(0, "MessagesProbe", "", WS_CHILD, 0, 0, 10, 10, hwnd, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
            g_dlg = hwnd;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) EndDialog(hwnd, IDCANCEL);
            return TRUE;  // every command is handled
        case kBusy: {
            g_busy_started = true;
            DWORD start = GetTickCount();
            while (GetTickCount() - start < 300) {
            }
            g_busy_done = GetTickCount();
            return TRUE;
        }
        case kWaitForWorker: {
            unsigned id;
            HANDLE t = reinterpret_cast<HANDLE>(
                _beginthreadex(nullptr, 0, SetTextWorker, nullptr, 0, &id));
            int seen = WaitServingSends(g_worker_event);
            WaitForSingleObject(t, INFINITE);
            CloseHandle(t);
            g_outcome = seen;
            return TRUE;
        }
        case kDestroyPending: {
            unsigned id;
            HANDLE t =
                reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, EchoWorker, nullptr, 0, &id));
            // Wait until the worker's send is queued, without serving it; then destroy its target
            // and serve what is left. The send must come back with 0, not hang.
            DWORD r = MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE);
            DestroyWindow(g_probe);
            int seen = r == WAIT_OBJECT_0 ? WaitServingSends(g_worker_event) : -1;
            WaitForSingleObject(t, INFINITE);
            CloseHandle(t);
            g_outcome = seen;
            return TRUE;
        }
    }
    return FALSE;
}

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ProbeProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "MessagesProbe";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        g_worker_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        g_outcome = 0;
    }
    void TearDown() override {
        CloseHandle(g_worker_event);
        UnregisterClassA("MessagesProbe", GetModuleHandleA(nullptr));
    }
    static INT_PTR Run(const std::function<void(HWND)>& body) {
        return harness::Drive(
            &g_dlg,
            [] {
                return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MEASURE),
                                       nullptr, OwnerProc, 0);
            },
            body);
    }
};

TEST_F(Messages, CrossThreadSendRunsOnTheOwnerAfterWhatKeepsItBusy) {
    Run([](HWND dlg) {
        g_busy_done = 0;
        g_busy_started = false;
        ASSERT_TRUE(PostMessageA(dlg, kBusy, 0, 0));
        ASSERT_TRUE(harness::WaitFor([] { return g_busy_started.load(); }));
        // The owner is busy: the send waits until it is back in its loop, then runs there.
        LRESULT r = SendMessageA(g_probe, kEcho, 99, 0);
        DWORD returned = GetTickCount();
        EXPECT_EQ(r, 100);
        EXPECT_EQ(g_echo_thread, g_owner_thread);
        EXPECT_NE(g_echo_thread, GetCurrentThreadId());
        EXPECT_NE(g_busy_done, 0u);
        EXPECT_GE(returned, g_busy_done);
        // A dialog procedure's TRUE is not the send's result: that is DWLP_MSGRESULT, 0.
        EXPECT_EQ(SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(12345, 0), 0), 0);
        // Text travels both ways through the owner.
        char buf[16] = "";
        EXPECT_EQ(SendDlgItemMessageA(dlg, IDC_INTERVAL_UNIT, WM_GETTEXT, sizeof buf,
                                      reinterpret_cast<LPARAM>(buf)),
                  2);
        EXPECT_STREQ(buf, "ms");
    });
}

TEST_F(Messages, OwnerWaitingWithMsgWaitServesTheWorkersSend) {
    Run([](HWND dlg) {
        ASSERT_TRUE(PostMessageA(dlg, kWaitForWorker, 0, 0));
        ASSERT_TRUE(harness::WaitFor([] { return g_outcome != 0; }));
        EXPECT_EQ(g_outcome, 1) << "the owner's wait ended with " << -g_outcome;
        EXPECT_EQ(harness::FieldText(dlg, IDC_INTERVAL_UNIT), "set by worker");
    });
}

TEST_F(Messages, SendToAWindowDestroyedWhileItWaitsReturnsZero) {
    Run([](HWND dlg) {
        g_pending_result = -1;
        ASSERT_TRUE(PostMessageA(dlg, kDestroyPending, 0, 0));
        ASSERT_TRUE(harness::WaitFor([] { return g_outcome != 0; }));
        EXPECT_EQ(g_outcome, 1);
        EXPECT_EQ(g_pending_result, 0);
        EXPECT_FALSE(IsWindow(g_probe));
    });
}

std::atomic<bool> g_dead_sends_failed{};
unsigned __stdcall SendToDeadDialog(void* arg) {
    HWND dlg = static_cast<HWND>(arg);
    char buf[8] = "x";
    SetLastError(0xdeadbeef);
    LRESULT r = SendMessageA(dlg, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    DWORD error = GetLastError();
    BOOL set = SetDlgItemTextA(dlg, IDC_INTERVAL_UNIT, "late");
    UINT got = GetDlgItemTextA(dlg, IDC_INTERVAL_UNIT, buf, sizeof buf);
    g_dead_sends_failed =
        r == 0 && error == ERROR_INVALID_WINDOW_HANDLE && !set && got == 0 && buf[0] == 0;
    return 0;
}

TEST_F(Messages, SendsToADestroyedDialogFailAtOnce) {
    HWND dlg = nullptr;
    Run([&](HWND h) { dlg = h; });
    ASSERT_NE(dlg, nullptr);
    ASSERT_FALSE(IsWindow(dlg));
    g_dead_sends_failed = false;
    unsigned id;
    HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SendToDeadDialog, dlg, 0, &id));
    // No one serves sends now: a send that waited for the owner would never come back.
    ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    CloseHandle(t);
    EXPECT_TRUE(g_dead_sends_failed);
}

TEST_F(Messages, PeekMessageSeesPostsInOrderAndRemovesOnlyWhenAsked) {
    // The test thread owns the windows: without a dialog running, posts wait in its queue.
    HWND probe = CreateWindowExA(0, "MessagesProbe", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(probe, nullptr);
    MSG m;
    while (PeekMessageA(&m, probe, 0, 0, PM_REMOVE)) {
    }
    ASSERT_TRUE(PostMessageA(probe, WM_APP + 20, 1, 0));
    ASSERT_TRUE(PostMessageA(probe, WM_APP + 21, 2, 0));
    struct Peek {
        UINT lo, hi, remove;
        BOOL found;
        UINT message;
    };
    // Each row is one PeekMessageA call on the same queue, in this order.
    const Peek rows[] = {
        {0, 0, PM_NOREMOVE, TRUE, WM_APP + 20},           // looking leaves the first in place
        {0, 0, PM_REMOVE, TRUE, WM_APP + 20},             // removing takes the same first
        {WM_APP + 22, WM_APP + 30, PM_REMOVE, FALSE, 0},  // a range with nothing in it
        {WM_APP + 21, WM_APP + 21, PM_REMOVE, TRUE, WM_APP + 21},  // the second, by its range
        {0, 0, PM_REMOVE, FALSE, 0},                               // the queue is empty now
    };
    for (const Peek& p : rows) {
        SCOPED_TRACE(p.lo);
        std::memset(&m, 0, sizeof m);
        EXPECT_EQ(PeekMessageA(&m, probe, p.lo, p.hi, p.remove), p.found);
        if (p.found) {
            EXPECT_EQ(m.message, p.message);
            EXPECT_EQ(m.hwnd, probe);
        }
    }
    EXPECT_TRUE(DestroyWindow(probe));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(probe, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
