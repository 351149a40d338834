// Threads: _beginthreadex, thread ids, Sleep, critical sections.
#include <process.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "kernel_private.h"

namespace w32 {
namespace {

// Win32 thread ids are non-zero multiples of 4, unique while the process runs.
std::atomic<DWORD> next_thread_id{0x20};

DWORD new_thread_id() { return next_thread_id.fetch_add(4); }

// Threads started here get their id from _beginthreadex (which reports it before the thread
// runs); any other thread gets one the first time it asks.
thread_local DWORD this_thread_id = 0;

// A thread handle: manual-reset, signalled once the thread's function has returned.
struct Thread : Waitable {};

}  // namespace
}  // namespace w32

extern "C" {

uintptr_t _beginthreadex(void*, unsigned, unsigned(__stdcall* start_address)(void*), void* arglist,
                         unsigned, unsigned* thrdaddr) {
    using namespace w32;
    if (!start_address) {
        errno = EINVAL;
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto thread = std::make_shared<Thread>();
    thread->manual_reset = true;
    const DWORD id = new_thread_id();
    HANDLE h = add_handle(Kind::Thread, thread);
    if (!h) {
        errno = EAGAIN;
        return 0;
    }
    if (thrdaddr) *thrdaddr = id;
    try {
        // The running thread keeps its own reference, so closing the handle early is harmless.
        std::thread([thread, id, start_address, arglist] {
            this_thread_id = id;
            start_address(arglist);
            {
                std::lock_guard<std::mutex> lock(sync_mutex());
                thread->signalled = true;
            }
            sync_cv().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        remove_handle(h, Kind::Thread);
        errno = EAGAIN;
        set_error(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return reinterpret_cast<uintptr_t>(h);
}

DWORD WINAPI GetCurrentThreadId(void) {
    if (w32::this_thread_id == 0) w32::this_thread_id = w32::new_thread_id();
    return w32::this_thread_id;
}

// A critical section is a recursive lock: the thread that holds it may enter it again, and leaves
// it as often as it entered.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    *cs = CRITICAL_SECTION{};
    cs->LockCount = -1;
    cs->LockSemaphore = new std::recursive_mutex;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->LockSemaphore)->lock();
    if (cs->RecursionCount++ == 0)
        cs->OwningThread = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    if (--cs->RecursionCount == 0) cs->OwningThread = nullptr;
    static_cast<std::recursive_mutex*>(cs->LockSemaphore)->unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->LockSemaphore);
    cs->LockSemaphore = nullptr;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

}  // extern "C"
