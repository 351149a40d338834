// SetTimer/KillTimer over Qt's precise timers on the owner thread.
//
// Qt reschedules a precise timer from "now" when its tick comes late, so ticks that fall due
// while the owner is busy collapse into one, as Win32's WM_TIMER does: no backlog, no burst.
#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>
#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "user.h"

namespace w32 {
namespace {

struct Timer {
    HWND hwnd{};
    UINT_PTR id = 0;
    TIMERPROC proc{};
    int qt_id = 0;
};

class TimerHost : public QObject {
public:
    std::vector<Timer> timers;  // owner thread only

protected:
    void timerEvent(QTimerEvent* e) override {
        auto it = std::find_if(timers.begin(), timers.end(),
                               [&](const Timer& t) { return t.qt_id == e->timerId(); });
        if (it == timers.end()) return;
        Timer t = *it;  // the callback may set or kill timers
        if (t.proc)
            t.proc(t.hwnd, WM_TIMER, t.id, GetTickCount());
        else
            PostMessageA(t.hwnd, WM_TIMER, t.id, 0);
    }
};

TimerHost& host() {
    static TimerHost* h = new TimerHost;  // made on the owner thread, lives with the process
    return *h;
}

std::vector<Timer>::iterator find_timer(HWND hwnd, UINT_PTR id) {
    auto& v = host().timers;
    return std::find_if(v.begin(), v.end(),
                        [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
}

// Owner thread.
UINT_PTR set_timer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    // Win32 raises periods below USER_TIMER_MINIMUM and lowers those above USER_TIMER_MAXIMUM.
    UINT period = std::min<UINT>(std::max<UINT>(elapse, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    if (!hwnd) {
        // A thread timer: the id is chosen here unless an existing one is being replaced.
        static UINT_PTR next_id = 0x7FF0;
        if (id == 0 || find_timer(nullptr, id) == host().timers.end()) id = ++next_id;
    }
    auto it = find_timer(hwnd, id);
    if (it != host().timers.end()) {
        host().killTimer(it->qt_id);
        host().timers.erase(it);
    }
    int qt_id = host().startTimer(static_cast<int>(period), Qt::PreciseTimer);
    if (qt_id == 0) return 0;
    host().timers.push_back(Timer{hwnd, id, proc, qt_id});
    // A window's timer may have id 0; it still reports success, as 1.
    return hwnd && id == 0 ? 1 : id;
}

bool kill_timer(HWND hwnd, UINT_PTR id) {
    auto it = find_timer(hwnd, id);
    if (it == host().timers.end()) return false;
    host().killTimer(it->qt_id);
    host().timers.erase(it);
    return true;
}


}  // namespace

void kill_window_timers(HWND hwnd) {
    if (!on_owner_thread()) return;
    auto& v = host().timers;
    for (auto it = v.begin(); it != v.end();) {
        if (it->hwnd == hwnd) {
            host().killTimer(it->qt_id);
            it = v.erase(it);
        } else {
            ++it;
        }
    }
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
