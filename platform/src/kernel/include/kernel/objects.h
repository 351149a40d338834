// The kernel's offer to the other parts of the layer: the handle table that every Win32 object
// lives in, the thread's last error, and the one lock and condition that every wait watches.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace w32 {

// ---- handles.cpp: the typed handle table and the thread's last error ----

enum class Kind { Event, Thread, File, Mutex, Process, Window, Dc, Bitmap, Pen, Brush };

struct Object {
    virtual ~Object() = default;
};

// Adds an object and returns its handle value: a small multiple of 4 that fits a 32-bit LONG,
// never 0 and never INVALID_HANDLE_VALUE. Values count up and wrap after about 500 million
// handles; a value still in use is never handed out again. When every value is in use: nullptr,
// with the error Win32 gives for that kind of object.
void* add_handle(Kind kind, std::shared_ptr<Object> obj);
// The object behind a handle of the given kind, or nullptr for a closed, unknown or
// other-kind handle.
std::shared_ptr<Object> find_handle(const void* h, Kind kind);
template <class T>
std::shared_ptr<T> find(const void* h, Kind kind) {
    return std::static_pointer_cast<T>(find_handle(h, kind));
}
// Removes a handle; false if it was not a live handle of that kind.
bool remove_handle(const void* h, Kind kind);
// The kind of a live handle; false if the handle is not live.
bool kind_of(const void* h, Kind* kind);
// Every live handle of a kind, oldest first.
std::vector<void*> handles_of(Kind kind);
// The number of live handles of that kind.
std::size_t count_handles(Kind kind);

void set_error(DWORD code);

// ---- clock.cpp ----

// The monotonic clock in nanoseconds: the performance counter's count, and the clock of timers.
long long monotonic_ns();

#ifdef W32_FAULT_INJECTION
// Undoes faults::HandleRing: the table has all its values again.
void end_handle_ring();
#endif

// ---- sync.cpp: one lock and one condition for every wait in the process ----
// Event changes, thread ends and newly queued cross-thread sends all notify sync_cv(), so a
// single wait can watch for any of them (MsgWaitForMultipleObjects).
std::mutex& sync_mutex();

// The condition that waits on sync_mutex(), with std::condition_variable's calls, asking the
// kernel only to put a thread to sleep and to wake one that sleeps. (glibc's condition variable
// re-takes the mutex after a wait as though other threads wanted it, so that the unlock after
// every wait was a system call that woke nobody.)
class SyncCondition {
public:
    // Wakes every thread waiting; no system call when none is.
    void notify_all();
    // Caller holds `lock` on sync_mutex(). May return without a notification.
    void wait(std::unique_lock<std::mutex>& lock);
    template <class Predicate>
    void wait(std::unique_lock<std::mutex>& lock, Predicate done) {
        while (!done()) wait(lock);
    }
    std::cv_status wait_until(std::unique_lock<std::mutex>& lock,
                              std::chrono::steady_clock::time_point deadline);

private:
    bool sleep(std::unique_lock<std::mutex>& lock, const std::chrono::steady_clock::time_point*);
    std::atomic<unsigned> generation_{0};  // the word the waiters sleep on
    std::atomic<int> sleepers_{0};
};
SyncCondition& sync_cv();

// Waits, as WaitForMultipleObjects for any one, until one of the `count` handles is signalled
// (WAIT_OBJECT_0 + its index, taking an auto-reset object's signal), or `also` holds (WAIT_OBJECT_0
// + count; called with sync_mutex() held, and again whenever sync_cv() is notified), or the time
// is up (WAIT_TIMEOUT). WAIT_FAILED, with ERROR_INVALID_HANDLE, when a handle cannot be waited on.
DWORD wait_for_any(DWORD count, const HANDLE* handles, DWORD ms, const std::function<bool()>& also);

// ---- power.cpp: the sleep inhibitor of SetThreadExecutionState ----

// The process is about to end: the layer's power thread lets go of the sleep inhibitor, whoever
// still asks for it, and stops. Waits for that at most a bus call's time-out; the normal exit
// calls it by itself, and an end through _exit must call it first.
void finish_power_requests();

}  // namespace w32
