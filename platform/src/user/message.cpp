// The owner thread, cross-thread sends, posted messages and the wait that watches for sends
// (MsgWaitForMultipleObjects).
//
// One thread owns every window: the one that first needed the QApplication. A SendMessageA from
// another thread is queued here and carried to the owner by a queued invocation on Qt's event
// loop; the sender blocks until the owner has run it. Posted messages wait in a queue of their
// own that the owner's event loop drains (the modal loop of DialogBoxParamA) or PeekMessageA
// reads.
#include <QApplication>
#include <QEvent>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <deque>
#include <thread>

#include "user_private.h"

namespace w32 {
namespace {

struct PendingSend {
    HWND target{};
    std::function<LRESULT()> fn;
    LRESULT result = 0;
    bool done = false;
};

// Guarded by sync_mutex(), so that a wait for events can also watch for sends.
struct Queues {
    std::deque<std::shared_ptr<PendingSend>> sends;
    std::deque<MSG> posted;
    std::deque<std::function<void()>> tasks;
    bool sends_wake_queued = false;
    // The owner's event loop is between two sleeps: it looks at the sends before the next one,
    // so a sender need not wake it.
    bool owner_awake = false;
    bool answered_since_woken = false;  // the owner has served a send since it last woke
    bool tasks_wake_queued = false;
    bool posted_wake_queued = false;
};

Queues& queues() {
    static Queues q;
    return q;
}

std::atomic<bool> app_ready{false};
std::thread::id owner_id;

// Runs its function on the owner thread for every event posted to it. The events carry
// nothing, and are not even looked at: Qt's event queue is ordered by a lock that a race
// detector cannot see, so no data of ours travels through it; the data waits in queues(),
// under sync_mutex().
class OwnerCall : public QObject {
public:
    explicit OwnerCall(void (*fn)()) : fn_(fn) {}
    bool event(QEvent*) override {
        fn_();
        return true;
    }

private:
    void (*const fn_)();
};

// Made on the owner thread before app_ready is set; one per function carried.
OwnerCall* serve_sends_call = nullptr;
OwnerCall* dispatch_posted_call = nullptr;
OwnerCall* run_tasks_call = nullptr;

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

void post_to_owner(OwnerCall* call) {
#if defined(__SANITIZE_THREAD__)
    // The event is written and read by Qt alone (its constructor, event filters, delivery),
    // through a queue whose lock ThreadSanitizer cannot see; allocating it here must not count
    // as a write of ours that Qt's later reads would race with.
    __tsan_ignore_thread_begin();
    QEvent* event = new QEvent(QEvent::User);
    __tsan_ignore_thread_end();
#else
    QEvent* event = new QEvent(QEvent::User);
#endif
    QCoreApplication::postEvent(call, event);
}

void serve_sends_from_loop() { serve_sends(); }

// Queues a posted message, at the end or (`first`) ahead of everything else, and wakes the
// owner's loop to dispatch it.
void queue_posted(const MSG& m, bool first) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        if (first)
            queues().posted.push_front(m);
        else
            queues().posted.push_back(m);
        wake = app_ready && !queues().posted_wake_queued;
        if (wake) queues().posted_wake_queued = true;
    }
    sync_cv().notify_all();
    if (wake) post_to_owner(dispatch_posted_call);
}

void run_tasks() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(sync_mutex());
            if (queues().tasks.empty()) {
                queues().tasks_wake_queued = false;
                return;
            }
            task = std::move(queues().tasks.front());
            queues().tasks.pop_front();
        }
        task();
    }
}

// PeekMessageA's filter: a window takes its own messages and those of its descendants;
// (HWND)-1 takes only messages posted to no window.
bool message_matches(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd == reinterpret_cast<HWND>(-1)) {
        if (m.hwnd)
            return false;
    } else if (hwnd) {
        HWND h = m.hwnd;
        while (h && h != hwnd) {
            auto w = find_window(h);
            h = w ? w->parent : nullptr;
        }
        if (!h)
            return false;
    }
    return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi);
}

void dispatch(const MSG& m) {
    if (dialog_message(m)) return;
    if (m.message == WM_TIMER && m.lParam) {
        reinterpret_cast<TIMERPROC>(m.lParam)(m.hwnd, WM_TIMER, m.wParam, GetTickCount());
        return;
    }
    if (m.hwnd) call_window_proc(m.hwnd, m.message, m.wParam, m.lParam);
}

// Dispatches what has been posted, in order, as the owner's message loop does. Like GetMessage,
// it serves the sends waiting for the owner before each posted message.
void dispatch_posted() {
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        queues().posted_wake_queued = false;
    }
    for (;;) {
        serve_sends();
        MSG m;
        {
            std::lock_guard<std::mutex> lock(sync_mutex());
            if (queues().posted.empty()) return;
            m = queues().posted.front();
            queues().posted.pop_front();
        }
        dispatch(m);
    }
}

}  // namespace

void ensure_app() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char arg0[] = "measure";
    static char* argv[] = {arg0, nullptr};
    // Qt's own event loop rather than GLib's: GLib writes to the loop's wake-up descriptor at
    // every event posted, even by the loop's own thread while it is awake, where Qt's writes
    // once until the loop has taken the wake-up. Qt reads the choice while the application is
    // made; the user's environment is left as it was.
    //
    // And images sent to the X server through the socket rather than shared memory: a window
    // drawn into shared memory may only be drawn again once the server has read it, which the
    // toolkit makes sure of with a round trip to the server at every repaint, on this thread.
    const char* const choices[] = {"QT_NO_GLIB", "QT_XCB_NO_MITSHM"};
    bool user_set[2];
    for (int i = 0; i < 2; ++i) {
        user_set[i] = std::getenv(choices[i]) != nullptr;
        if (!user_set[i]) ::setenv(choices[i], "1", 1);
    }
    // Lives as long as the process: windows may be made and used until the very end.
    new QApplication(argc, argv);
    for (int i = 0; i < 2; ++i)
        if (!user_set[i]) ::unsetenv(choices[i]);
    QApplication::setQuitOnLastWindowClosed(false);
    // The toolkit has set the C runtime to the user's locale. A Win32 program's C runtime stays
    // in "C": numbers are written and read with a decimal point, whatever LANG and LC_* say.
    // The character type stays the user's, which input methods need; with a UTF-8 locale it
    // changes nothing that the program's printf or scanf computes.
    for (int category : {LC_NUMERIC, LC_MONETARY, LC_TIME, LC_COLLATE})
        std::setlocale(category, "C");
    owner_id = std::this_thread::get_id();
    serve_sends_call = new OwnerCall(serve_sends_from_loop);
    dispatch_posted_call = new OwnerCall(dispatch_posted);
    run_tasks_call = new OwnerCall(run_tasks);
    install_frame_clock();
    app_ready = true;
    watch_session_signals();
    // Messages posted before there was an event loop to wake.
    bool wake;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        wake = !queues().posted.empty() && !queues().posted_wake_queued;
        queues().posted_wake_queued = queues().posted_wake_queued || wake;
    }
    if (wake) post_to_owner(dispatch_posted_call);
}

bool on_owner_thread() { return app_ready && std::this_thread::get_id() == owner_id; }

bool serve_sends() {
    if (!on_owner_thread()) return false;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        queues().sends_wake_queued = false;
    }
    bool any = false;
    for (;;) {
        std::shared_ptr<PendingSend> p;
        {
            std::lock_guard<std::mutex> lock(sync_mutex());
            if (queues().sends.empty()) break;
            p = queues().sends.front();
            queues().sends.pop_front();
        }
        // Run without the lock: the procedure may send, wait or run a nested loop.
        LRESULT r = p->fn();
        {
            std::lock_guard<std::mutex> lock(sync_mutex());
            p->result = r;
            p->done = true;
            queues().answered_since_woken = true;
        }
        sync_cv().notify_all();
        any = true;
    }
    if (any) frame_after_sends();
    return any;
}

bool sends_pending_locked() { return !queues().sends.empty(); }

void owner_woke() {
    std::lock_guard<std::mutex> lock(sync_mutex());
    queues().owner_awake = true;
    queues().answered_since_woken = false;
}

bool answered_since_woken() {
    serve_sends();
    std::lock_guard<std::mutex> lock(sync_mutex());
    return queues().answered_since_woken;
}

void owner_about_to_sleep() {
    for (;;) {
        serve_sends();
        std::lock_guard<std::mutex> lock(sync_mutex());
        if (queues().sends.empty()) {
            queues().owner_awake = false;
            return;
        }
    }
}

void post_task(std::function<void()> fn) {
    if (!app_ready) return;
    bool wake;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        queues().tasks.push_back(std::move(fn));
        wake = !queues().tasks_wake_queued;
        queues().tasks_wake_queued = true;
    }
    if (wake) post_to_owner(run_tasks_call);
}

void post_first(const MSG& m) { queue_posted(m, true); }

LRESULT run_on_owner(HWND target, const std::function<LRESULT()>& fn) {
    if (!app_ready || on_owner_thread()) return fn();
    auto p = std::make_shared<PendingSend>();
    p->target = target;
    p->fn = fn;
    bool wake;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        queues().sends.push_back(p);
        wake = !queues().sends_wake_queued && !queues().owner_awake;
        if (wake) queues().sends_wake_queued = true;
    }
    // Wakes an owner blocked in MsgWaitForMultipleObjects(QS_SENDMESSAGE) ...
    sync_cv().notify_all();
    // ... and one in Qt's event loop.
    if (wake) post_to_owner(serve_sends_call);
    // The target may have been destroyed after the caller's check and before the send was
    // queued, once its pending sends were released: then nothing would ever serve this one.
    const bool target_gone = target && !find_window(target);
    std::unique_lock<std::mutex> lock(sync_mutex());
    if (target_gone) {
        auto& sends = queues().sends;
        for (auto it = sends.begin(); it != sends.end(); ++it) {
            if (*it == p) {
                sends.erase(it);
                p->result = 0;
                p->done = true;
                break;
            }
        }
    }
    sync_cv().wait(lock, [&] { return p->done; });
    return p->result;
}

void release_sends_to(HWND hwnd) {
    if (!hwnd) return;
    {
        std::lock_guard<std::mutex> lock(sync_mutex());
        auto& sends = queues().sends;
        for (auto it = sends.begin(); it != sends.end();) {
            if ((*it)->target == hwnd) {
                (*it)->result = 0;
                (*it)->done = true;
                it = sends.erase(it);
            } else {
                ++it;
            }
        }
    }
    sync_cv().notify_all();
}

}  // namespace w32

extern "C" {

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    using namespace w32;
    if (!find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (on_owner_thread()) return call_window_proc(hWnd, Msg, wParam, lParam);
    return run_on_owner(hWnd, [=] { return call_window_proc(hWnd, Msg, wParam, lParam); });
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    using namespace w32;
    if (hWnd && !find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MSG m{};
    m.hwnd = hWnd;
    m.message = Msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    queue_posted(m, false);
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    using namespace w32;
    // Only the owner thread has a message queue: other threads own no windows.
    if (!on_owner_thread()) return FALSE;
    serve_sends();
    std::lock_guard<std::mutex> lock(sync_mutex());
    auto& posted = queues().posted;
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (!message_matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
        if (lpMsg) *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE) posted.erase(it);
        return TRUE;
    }
    return FALSE;
}

// The message queue's wait: the handles, or a cross-thread send when QS_SENDMESSAGE is asked.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
    // Waiting for all handles together is not supported: the program never asks for it.
    const DWORD max_handles = 63;  // MAXIMUM_WAIT_OBJECTS less the slot of the message queue
    if (fWaitAll || nCount > max_handles || (nCount > 0 && !pHandles)) {
        w32::set_error(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::function<bool()> sends;
    if (dwWakeMask & QS_SENDMESSAGE) sends = w32::sends_pending_locked;
    return w32::wait_for_any(nCount, pHandles, dwMilliseconds, sends);
}

}  // extern "C"
