// Events, waits, threads and the clock, as the acquisition pacing and the worker rely on them.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

namespace {

const DWORD kDeadlineMs = 5000;  // generous bound for waits that should end promptly

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

struct Waiter {
    HANDLE event;
    HANDLE ready;
    DWORD result;
};

unsigned __stdcall wait_forever(void* arg) {
    Waiter* w = static_cast<Waiter*>(arg);
    SetEvent(w->ready);
    w->result = WaitForSingleObject(w->event, INFINITE);
    return 0;
}

TEST(Threads, InfiniteWaitWakesWhenAnotherThreadSets) {
    Waiter w = {CreateEventA(NULL, FALSE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL),
                0xdeadbeef};
    unsigned id = 0;
    HANDLE th = (HANDLE)_beginthreadex(NULL, 0, wait_forever, &w, 0, &id);
    ASSERT_NE(th, (HANDLE)NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w.ready, kDeadlineMs));
    // The thread is now blocked in its wait and stays there until the event is set.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(th, 100));
    EXPECT_TRUE(SetEvent(w.event));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(th, kDeadlineMs));
    EXPECT_EQ(WAIT_OBJECT_0, w.result);
    CloseHandle(th);
    CloseHandle(w.event);
    CloseHandle(w.ready);
}

struct Gate {
    HANDLE go;
    DWORD id_seen;
};

unsigned __stdcall wait_for_gate(void* arg) {
    Gate* g = static_cast<Gate*>(arg);
    g->id_seen = GetCurrentThreadId();
    WaitForSingleObject(g->go, INFINITE);
    return 7;
}

TEST(Threads, HandleSignalledOnceTheThreadReturns) {
    Gate g = {CreateEventA(NULL, TRUE, FALSE, NULL), 0};
    unsigned id = 0;
    HANDLE th = (HANDLE)_beginthreadex(NULL, 0, wait_for_gate, &g, 0, &id);
    ASSERT_NE(th, (HANDLE)NULL);
    EXPECT_NE(0u, id);
    EXPECT_NE(GetCurrentThreadId(), (DWORD)id);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(th, 0));
    EXPECT_TRUE(SetEvent(g.go));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(th, kDeadlineMs));
    // A thread handle stays signalled: a second wait returns at once too.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(th, 0));
    EXPECT_EQ((DWORD)id, g.id_seen);
    // A thread handle is not an event.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetEvent(th));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_TRUE(CloseHandle(th));
    CloseHandle(g.go);
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

TEST(Clock, PerformanceCounterIsMonotonicInItsOwnUnits) {
    LARGE_INTEGER freq, prev, now;
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_GT(freq.QuadPart, 0);
    ASSERT_TRUE(QueryPerformanceCounter(&prev));
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(QueryPerformanceCounter(&now));
        ASSERT_GE(now.QuadPart, prev.QuadPart) << "at reading " << i;
        prev = now;
    }
    // A 200 ms wait measured with the counter and the frequency is about 200 ms: the two
    // agree on their unit. Wide bounds: only a wrong unit is off by orders of magnitude.
    HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    WaitForSingleObject(ev, 200);
    QueryPerformanceCounter(&t1);
    CloseHandle(ev);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    EXPECT_GT(seconds, 0.15);
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
