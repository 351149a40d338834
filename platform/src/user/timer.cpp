// SetTimer/KillTimer on the owner thread, each timer a periodic timerfd that the owner's event
// loop watches.
//
// Qt's own timers wake the loop up to a millisecond late (it rounds each wait up to whole
// milliseconds), by a different amount each tick; a timerfd wakes it when the period is over, to
// the microsecond. Its expirations keep the timer's phase, and those that fall due while the owner
// is busy are read as one: they collapse into one tick, as Win32's WM_TIMER does, with no backlog
// and no burst, and the next tick comes on time.
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

#include "kernel/fault_hook.h"
#include "user_private.h"

namespace w32 {
namespace {

struct Timer {
    HWND hwnd{};
    UINT_PTR id = 0;
    TIMERPROC proc{};
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    long long first_ns = 0;   // the first expiry, on the monotonic clock
    long long period_ns = 0;

    // A timer may be killed by its own callback, from inside its notifier's signal: the notifier
    // stops watching at once and is deleted once the signal is over.
    ~Timer() {
        if (notifier) {
            notifier->setEnabled(false);
            notifier.release()->deleteLater();
        }
        if (fd >= 0) ::close(fd);
    }
};

std::vector<std::unique_ptr<Timer>>& timers() {  // owner thread only
    static auto* v = new std::vector<std::unique_ptr<Timer>>;
    return *v;
}

std::vector<std::unique_ptr<Timer>>::iterator find_timer(HWND hwnd, UINT_PTR id) {
    auto& v = timers();
    return std::find_if(v.begin(), v.end(), [&](const std::unique_ptr<Timer>& t) {
        return t->hwnd == hwnd && t->id == id;
    });
}

void fire(Timer* timer) {
    uint64_t expirations = 0;
    if (::read(timer->fd, &expirations, sizeof expirations) != sizeof expirations) return;
    // The callback may set or kill timers, this one among them.
    const HWND hwnd = timer->hwnd;
    const UINT_PTR id = timer->id;
    if (TIMERPROC proc = timer->proc) {
        proc(hwnd, WM_TIMER, id, GetTickCount());
        frame_after_timer_callback();
    } else {
        PostMessageA(hwnd, WM_TIMER, id, 0);
    }
}

// Owner thread.
UINT_PTR set_timer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    // Win32 raises periods below USER_TIMER_MINIMUM and lowers those above USER_TIMER_MAXIMUM.
    UINT period = std::min<UINT>(std::max<UINT>(elapse, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    if (!hwnd) {
        // A thread timer: the id is chosen here unless an existing one is being replaced.
        static UINT_PTR next_id = 0x7FF0;
        if (id == 0 || find_timer(nullptr, id) == timers().end()) id = ++next_id;
    }
    auto it = find_timer(hwnd, id);
    if (it != timers().end()) timers().erase(it);
    auto t = std::make_unique<Timer>();
    t->hwnd = hwnd;
    t->id = id;
    t->proc = proc;
    t->fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (t->fd < 0) return 0;
    itimerspec every{};
    every.it_interval.tv_sec = period / 1000;
    every.it_interval.tv_nsec = static_cast<long>(period % 1000) * 1000000L;
    every.it_value = every.it_interval;
    t->period_ns = static_cast<long long>(period) * 1000000LL;
    t->first_ns = monotonic_ns() + t->period_ns;
    if (::timerfd_settime(t->fd, 0, &every, nullptr) != 0) return 0;
    t->notifier = std::make_unique<QSocketNotifier>(t->fd, QSocketNotifier::Read);
    Timer* raw = t.get();
    QObject::connect(t->notifier.get(), &QSocketNotifier::activated, t->notifier.get(),
                     [raw] { fire(raw); });
    timers().push_back(std::move(t));
    // A window's timer may have id 0; it still reports success, as 1.
    return hwnd && id == 0 ? 1 : id;
}

bool kill_timer(HWND hwnd, UINT_PTR id) {
    auto it = find_timer(hwnd, id);
    if (it == timers().end()) return false;
    timers().erase(it);
    return true;
}

}  // namespace

long long ns_to_next_timer() {
    const long long now = monotonic_ns();
    long long nearest = -1;
    for (const auto& t : timers()) {
        // Expirations keep the phase of the first: first + k periods.
        const long long since = now - t->first_ns;
        const long long next =
            since < 0 ? t->first_ns : t->first_ns + (since / t->period_ns + 1) * t->period_ns;
        if (nearest < 0 || next - now < nearest) nearest = next - now;
    }
    return nearest;
}

void kill_window_timers(HWND hwnd) {
    if (!on_owner_thread()) return;
    auto& v = timers();
    v.erase(std::remove_if(v.begin(), v.end(),
                           [hwnd](const std::unique_ptr<Timer>& t) { return t->hwnd == hwnd; }),
            v.end());
}

}  // namespace w32

extern "C" {

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    using namespace w32;
    W32_FAULT(SetTimer, nullptr, 0);
    if (hWnd && !find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    ensure_app();
    return static_cast<UINT_PTR>(run_on_owner(hWnd, [=]() -> LRESULT {
        if (hWnd && !find_window(hWnd)) return 0;
        return static_cast<LRESULT>(set_timer(hWnd, nIDEvent, uElapse, lpTimerFunc));
    }));
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    using namespace w32;
    if (hWnd && !find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!QCoreApplication::instance()) return FALSE;
    return static_cast<BOOL>(
        run_on_owner(hWnd, [=]() -> LRESULT { return kill_timer(hWnd, uIDEvent); }));
}

}  // extern "C"
