// Threads of _beginthreadex: their handles and what waits on them see.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

namespace {

const DWORD kDeadlineMs = 5000;  // generous bound for waits that should end promptly

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

}  // namespace
