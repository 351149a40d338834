// Events, waits, threads and the clock, as the acquisition pacing and the worker rely on them.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <string>

#include "tests/common/beside.h"

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

// Another thread's attempt to take the mutex that the test owns.
unsigned __stdcall TakeOwnedMutex(void* result) {
    HANDLE h = CreateMutexA(NULL, FALSE, "Local\\measure-kernel-test-owned");
    *static_cast<DWORD*>(result) = WaitForSingleObject(h, 0);
    CloseHandle(h);
    return 0;
}

// Names as Win32 takes or refuses them, and the rules of ownership within one process.
TEST(Mutexes, NamesAndOwnership) {
    const struct {
        const char* what;
        std::string name;
        DWORD error;  // 0: the mutex is made
    } rows[] = {
        // A backslash after a namespace, or without one, names a folder of objects that is not.
        {"backslash after Local\\", "Local\\a\\b", ERROR_PATH_NOT_FOUND},
        {"backslash without a namespace", "a\\b", ERROR_PATH_NOT_FOUND},
        {"backslash after Global\\", "Global\\x\\y", ERROR_PATH_NOT_FOUND},
        {"namespace alone", "Local\\", ERROR_INVALID_NAME},
        {"261 characters", "Local\\" + std::string(255, 'n'), ERROR_FILENAME_EXCED_RANGE},
        {"260 characters", "Local\\" + std::string(254, 'n'), 0},
        // What a path becomes as a name: separators turned into '/', a colon kept.
        {"a path's name", "Local\\measure-kernel-test:C:/DATA/TWO.DAT", 0},
        {"empty: no name", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetLastError(0xdeadbeef);
        HANDLE h = CreateMutexA(NULL, FALSE, row.name.c_str());
        EXPECT_EQ(row.error, GetLastError());
        EXPECT_EQ(row.error == 0, h != NULL);
        if (h) CloseHandle(h);
    }

    HANDLE h = CreateMutexA(NULL, FALSE, "Local\\measure-kernel-test-owned");
    ASSERT_NE((HANDLE)NULL, h);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(h)) << "released a mutex no thread owns";
    EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
    // The owner may take it again, and releases it as often as it took it.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    DWORD other = 0xdeadbeef;
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, TakeOwnedMutex, &other, 0, NULL);
    ASSERT_NE((HANDLE)NULL, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kDeadlineMs));
    CloseHandle(thread);
    EXPECT_EQ(WAIT_TIMEOUT, other) << "another thread took a mutex this one owns";
    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_TRUE(ReleaseMutex(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
    CloseHandle(h);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

// A mutex owned by another process: this one cannot take or release it, and sees its name
// exist. When the owner releases it, it is free; when the owner ends without releasing it (it
// returns, or it is killed), the next wait takes it abandoned, once. A name whose every handle
// has gone with its processes is a new mutex.
TEST(Mutexes, OwnedByAnotherProcess) {
    enum End { Release, Keep, Kill };
    const struct {
        const char* what;
        End end;
        bool keep_handle;  // this process holds a handle while the owner ends
        DWORD error;       // of a CreateMutexA after the owner's end, if no handle was kept
        DWORD wait;        // the first wait after the owner's end
    } rows[] = {
        {"released", Release, true, 0, WAIT_OBJECT_0},
        {"owner returned without releasing", Keep, true, 0, WAIT_ABANDONED},
        {"owner killed", Kill, true, 0, WAIT_ABANDONED},
        {"owner killed, no handle left", Kill, false, ERROR_SUCCESS, WAIT_OBJECT_0},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string name = "Local\\measure-kernel-test-held-" + std::to_string(index);
        const std::string go_name = "Local\\measure-kernel-test-go-" + std::to_string(index++);
        HANDLE go = CreateMutexA(NULL, TRUE, go_name.c_str());
        HANDLE h = CreateMutexA(NULL, FALSE, name.c_str());
        ASSERT_NE((HANDLE)NULL, go);
        ASSERT_NE((HANDLE)NULL, h);
        PROCESS_INFORMATION pi;
        const std::string args = name + " " + go_name + (row.end == Keep ? " keep" : " release");
        ASSERT_TRUE(beside::Start("mutex_holder", args, &pi)) << "error " << GetLastError();
        // Until the holder has the mutex, this process may take it first: then it lets it go.
        DWORD r = WAIT_OBJECT_0;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10)) {
            r = WaitForSingleObject(h, 0);
            if (r == WAIT_TIMEOUT) break;
            ReleaseMutex(h);
        }
        ASSERT_EQ(WAIT_TIMEOUT, r) << "the holder never took the mutex";
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ReleaseMutex(h));
        EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
        CloseHandle(h);
        SetLastError(0xdeadbeef);
        h = CreateMutexA(NULL, FALSE, name.c_str());
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError()) << "the holder's name is gone";
        if (!row.keep_handle) {
            CloseHandle(h);
            h = NULL;
        }

        if (row.end == Kill) {
            EXPECT_TRUE(TerminateProcess(pi.hProcess, 9));
            EXPECT_EQ(9u, beside::Finish(&pi));
        } else {
            EXPECT_TRUE(ReleaseMutex(go));
            EXPECT_EQ(0u, beside::Finish(&pi));
        }
        if (!h) {
            SetLastError(0xdeadbeef);
            h = CreateMutexA(NULL, FALSE, name.c_str());
            EXPECT_EQ(row.error, GetLastError());
        }
        EXPECT_EQ(row.wait, WaitForSingleObject(h, kDeadlineMs));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0)) << "abandonment is told once";
        EXPECT_TRUE(ReleaseMutex(h));
        EXPECT_TRUE(ReleaseMutex(h));
        CloseHandle(h);
        CloseHandle(go);
    }
}

}  // namespace
