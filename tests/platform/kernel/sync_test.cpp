// Events and waits, as the acquisition pacing and the worker rely on them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct EventCase {
    const char* what;
    BOOL manual;
    BOOL initial;
    int sets;             // SetEvent calls before waiting
    DWORD first, second;  // results of two successive WaitForSingleObject(h, 0)
};

TEST(Events, ResetModesAndInitialState) {
    const EventCase cases[] = {
        // Two signals on an auto-reset event still release only one wait.
        {"auto, set twice", FALSE, FALSE, 2, WAIT_OBJECT_0, WAIT_TIMEOUT},
        // The initial state is one signal, consumed like any other.
        {"auto, initially set", FALSE, TRUE, 0, WAIT_OBJECT_0, WAIT_TIMEOUT},
        // A manual-reset event stays signalled through any number of waits.
        {"manual, set once", TRUE, FALSE, 1, WAIT_OBJECT_0, WAIT_OBJECT_0},
        // Nothing signalled: a zero time-out returns at once.
        {"manual, never set", TRUE, FALSE, 0, WAIT_TIMEOUT, WAIT_TIMEOUT},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE ev = CreateEventA(NULL, c.manual, c.initial, NULL);
        ASSERT_NE(ev, (HANDLE)NULL);
        for (int i = 0; i < c.sets; ++i) EXPECT_TRUE(SetEvent(ev));
        EXPECT_EQ(c.first, WaitForSingleObject(ev, 0));
        EXPECT_EQ(c.second, WaitForSingleObject(ev, 0));
        EXPECT_TRUE(CloseHandle(ev));
    }
}

TEST(Events, ManualResetClearsOnlyOnReset) {
    HANDLE ev = CreateEventA(NULL, TRUE, TRUE, NULL);
    ASSERT_NE(ev, (HANDLE)NULL);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 0));
    EXPECT_TRUE(ResetEvent(ev));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(ev, 0));
    EXPECT_TRUE(SetEvent(ev));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 0));
    CloseHandle(ev);
}

TEST(Events, TimedWaitTimesOutAfterItsPeriod) {
    HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    ASSERT_NE(ev, (HANDLE)NULL);
    DWORD start = GetTickCount();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(ev, 100));
    DWORD waited = GetTickCount() - start;
    // Not a speed check: only that the wait did wait (Windows may end it a tick early).
    EXPECT_GE(waited, 70u);
    CloseHandle(ev);
}

TEST(Events, NamedEventIsSharedAndReported) {
    SetLastError(0xdeadbeef);
    HANDLE a = CreateEventA(NULL, TRUE, FALSE, "measure-kernel-test-event");
    ASSERT_NE(a, (HANDLE)NULL);
    EXPECT_EQ(0u, GetLastError());
    HANDLE b = CreateEventA(NULL, FALSE, FALSE, "measure-kernel-test-event");
    ASSERT_NE(b, (HANDLE)NULL);
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_NE(a, b);
    // Same event behind both handles, still manual-reset as first created.
    EXPECT_TRUE(SetEvent(a));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, 0));
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Events, ClosedAndNullHandlesFail) {
    HANDLE closed_event = CreateEventA(NULL, TRUE, TRUE, NULL);
    ASSERT_TRUE(CloseHandle(closed_event));
    struct Case {
        const char* what;
        HANDLE h;
    } handles[] = {
        {"closed event", closed_event},  // a stale value must not reach any object
        {"NULL", NULL},
    };
    for (const Case& c : handles) {
        SCOPED_TRACE(c.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(c.h, 0));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetEvent(c.h));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ResetEvent(c.h));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CloseHandle(c.h));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    }
}

TEST(Events, MsgWaitReportsWhichHandleIsSignalled) {
    HANDLE evs[2] = {CreateEventA(NULL, FALSE, FALSE, NULL),
                     CreateEventA(NULL, FALSE, FALSE, NULL)};
    EXPECT_EQ(WAIT_TIMEOUT, MsgWaitForMultipleObjects(2, evs, FALSE, 0, QS_SENDMESSAGE));
    SetEvent(evs[1]);
    EXPECT_EQ(WAIT_OBJECT_0 + 1, MsgWaitForMultipleObjects(2, evs, FALSE, 0, QS_SENDMESSAGE));
    // The auto-reset signal was taken by that wait.
    EXPECT_EQ(WAIT_TIMEOUT, MsgWaitForMultipleObjects(2, evs, FALSE, 0, QS_SENDMESSAGE));
    // Both set: the lower index wins.
    SetEvent(evs[0]);
    SetEvent(evs[1]);
    EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjects(2, evs, FALSE, 0, QS_SENDMESSAGE));
    CloseHandle(evs[1]);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(2, evs, FALSE, 0, QS_SENDMESSAGE));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    CloseHandle(evs[0]);
}

}  // namespace
