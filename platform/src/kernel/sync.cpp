// Events, waits and CloseHandle. The wait that also watches the message queue
// (MsgWaitForMultipleObjects) is the window manager's, over wait_for_any.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <ctime>
#include <map>

#include "kernel/fault_hook.h"
#include "kernel_private.h"

namespace w32 {

// Both live for the whole process and are never destroyed: a worker thread may still be
// waiting or signalling while the main thread runs the static destructors at exit.
std::mutex& sync_mutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

SyncCondition& sync_cv() {
    static SyncCondition* cv = new SyncCondition;
    return *cv;
}

void SyncCondition::notify_all() {
    generation_.fetch_add(1);
    if (sleepers_.load() > 0)
        ::syscall(SYS_futex, &generation_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// Sleeps until a notification, the deadline (if any) or a spurious wake-up; false at the
// deadline. A notification between the caller's look and the sleep changes the generation, and
// the kernel then does not let the thread sleep.
bool SyncCondition::sleep(std::unique_lock<std::mutex>& lock,
                          const std::chrono::steady_clock::time_point* deadline) {
    timespec at{};
    if (deadline) {
        if (std::chrono::steady_clock::now() >= *deadline) return false;
        const long long ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch())
                .count();
        at.tv_sec = static_cast<time_t>(ns / 1000000000);
        at.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    const unsigned seen = generation_.load();
    sleepers_.fetch_add(1);
    lock.unlock();
    // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC, the steady clock's.
    ::syscall(SYS_futex, &generation_, FUTEX_WAIT_BITSET_PRIVATE, seen, deadline ? &at : nullptr,
              nullptr, FUTEX_BITSET_MATCH_ANY);
    sleepers_.fetch_sub(1);
    lock.lock();
    return true;
}

void SyncCondition::wait(std::unique_lock<std::mutex>& lock) { sleep(lock, nullptr); }

std::cv_status SyncCondition::wait_until(std::unique_lock<std::mutex>& lock,
                                         std::chrono::steady_clock::time_point deadline) {
    if (!sleep(lock, &deadline)) return std::cv_status::timeout;
    return std::chrono::steady_clock::now() >= deadline ? std::cv_status::timeout
                                                        : std::cv_status::no_timeout;
}

namespace {

struct Event : Waitable {};

// Named events, so that a second CreateEventA of a name returns the same event. Guarded by
// sync_mutex(); an entry whose event has been freed is replaced.
std::map<std::string, std::weak_ptr<Event>>& named_events() {
    static auto* names = new std::map<std::string, std::weak_ptr<Event>>;
    return *names;
}

// GetCurrentProcess()'s value. Win32 accepts it wherever a waitable handle is expected: the
// process is never signalled while it runs, and closing the pseudo-handle does nothing.
const void* const current_process = INVALID_HANDLE_VALUE;

// What a wait can watch: a waitable object, the always-signalled file, or the process.
struct Target {
    std::shared_ptr<Waitable> object;
    bool always = false;  // a file handle: signalled whenever no I/O is pending, i.e. always
    bool never = false;   // the current process
};

bool resolve(const void* h, Target* t) {
    if (h == current_process) {
        t->never = true;
        return true;
    }
    Kind kind;
    if (!kind_of(h, &kind)) return false;
    switch (kind) {
        case Kind::Event:
        case Kind::Thread:
        case Kind::Process:
            t->object = find<Waitable>(h, kind);
            return t->object != nullptr;  // closed by another thread meanwhile
        case Kind::File:
            t->always = true;
            return true;
        default:
            return false;
    }
}

// Checks a target and takes the signal of an auto-reset object. Caller holds sync_mutex().
bool try_acquire_locked(const Target& t) {
    if (t.always) return true;
    if (t.never || !t.object->signalled) return false;
    if (!t.object->manual_reset) t.object->signalled = false;
    return true;
}

// The shared wait: returns WAIT_OBJECT_0 + i for the first signalled target, WAIT_OBJECT_0 +
// targets.size() when `also` is given and holds, or WAIT_TIMEOUT.
DWORD wait_any(const std::vector<Target>& targets, const std::function<bool()>& also, DWORD ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(sync_mutex());
    for (;;) {
        for (size_t i = 0; i < targets.size(); ++i) {
            if (try_acquire_locked(targets[i])) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        }
        if (also && also()) return WAIT_OBJECT_0 + static_cast<DWORD>(targets.size());
        if (ms == INFINITE)
            sync_cv().wait(lock);
        else if (sync_cv().wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    }
    // One last look: a signal may have come with the time-out.
    for (size_t i = 0; i < targets.size(); ++i) {
        if (try_acquire_locked(targets[i])) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }
    if (also && also()) return WAIT_OBJECT_0 + static_cast<DWORD>(targets.size());
    return WAIT_TIMEOUT;
}

std::shared_ptr<Event> find_event(HANDLE h) {
    auto ev = find<Event>(h, Kind::Event);
    if (!ev) set_error(ERROR_INVALID_HANDLE);
    return ev;
}

void set_state(HANDLE h, bool signalled, BOOL* result) {
    auto ev = find_event(h);
    if (!ev) {
        *result = FALSE;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        ev->signalled = signalled;
    }
    if (signalled) sync_cv().notify_all();
    *result = TRUE;
}

}  // namespace

DWORD wait_for_any(DWORD count, const HANDLE* handles, DWORD ms,
                   const std::function<bool()>& also) {
    std::vector<Target> targets(count);
    for (DWORD i = 0; i < count; ++i) {
        if (!resolve(handles[i], &targets[i])) {
            set_error(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    return wait_any(targets, also, ms);
}

}  // namespace w32

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
    using namespace w32;
    W32_FAULT(CreateEventA, lpName, nullptr);
    std::shared_ptr<Event> ev;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        if (lpName && *lpName) {
            std::weak_ptr<Event>& slot = named_events()[lpName];
            ev = slot.lock();
            if (ev) {
                // Win32 returns a new handle to the existing event; its state and reset mode
                // stay as they are.
                error = ERROR_ALREADY_EXISTS;
            } else {
                ev = std::make_shared<Event>();
                slot = ev;
            }
        } else {
            ev = std::make_shared<Event>();
        }
        if (error == ERROR_SUCCESS) {
            ev->manual_reset = bManualReset != FALSE;
            ev->signalled = bInitialState != FALSE;
        }
    }
    HANDLE h = add_handle(Kind::Event, ev);
    if (h) set_error(error);
    return h;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    BOOL result;
    w32::set_state(hEvent, true, &result);
    return result;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
    BOOL result;
    w32::set_state(hEvent, false, &result);
    return result;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    w32::Kind kind;
    if (w32::kind_of(hHandle, &kind) && kind == w32::Kind::Mutex)
        return w32::wait_mutex(hHandle, dwMilliseconds);
    std::vector<w32::Target> targets(1);
    if (!w32::resolve(hHandle, &targets[0])) {
        w32::set_error(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return w32::wait_any(targets, nullptr, dwMilliseconds);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    using namespace w32;
    if (hObject == current_process) return TRUE;
    Kind kind;
    if (kind_of(hObject, &kind) &&
        (kind == Kind::Event || kind == Kind::Thread || kind == Kind::File ||
         kind == Kind::Mutex || kind == Kind::Process) &&
        remove_handle(hObject, kind))
        return TRUE;
    // Window and GDI handles are not kernel objects: Win32 refuses to close them here too.
    set_error(ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // extern "C"
