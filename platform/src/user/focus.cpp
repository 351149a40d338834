// The keyboard focus: one control of the owner thread's windows has it (GetFocus,
// GetGUIThreadInfo). SetFocus moves it (and the toolkit's focus with it); a click that moves the
// toolkit's focus moves it too.
#include <QApplication>
#include <QWidget>

#include "user_private.h"

namespace w32 {
namespace {

HWND g_focus = nullptr;
bool g_moving_focus = false;  // the layer is moving Qt's focus itself

void repaint(HWND h) {
    if (auto w = find_window(h); w && w->widget) w->widget->update();
}

void follow(QWidget* now) {
    if (g_moving_focus || !now) return;
    for (const auto& c : child_windows(dialog_of(g_focus))) {
        if (c->widget && (c->widget == now || c->widget->isAncestorOf(now))) {
            if (c->hwnd != g_focus) SetFocus(c->hwnd);
            return;
        }
    }
}

}  // namespace

HWND focus_window() {
    if (!on_owner_thread() || !find_window(g_focus)) return nullptr;
    return g_focus;
}

void forget_focus(HWND hwnd) {
    if (g_focus == hwnd) g_focus = nullptr;
}

void follow_toolkit_focus() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QObject::connect(qApp, &QApplication::focusChanged, qApp,
                     [](QWidget*, QWidget* now) { follow(now); });
}

}  // namespace w32

extern "C" {

HWND WINAPI GetFocus(void) { return w32::focus_window(); }

HWND WINAPI SetFocus(HWND hWnd) {
    using namespace w32;
    // Only the thread that owns the windows has a keyboard focus.
    if (!on_owner_thread()) return nullptr;
    auto w = find_window(hWnd);
    if (hWnd && !w) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const HWND old = focus_window();
    if (old == hWnd) return old;
    g_focus = hWnd;
    if (old) {
        call_window_proc(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
        repaint(old);
    }
    if (w && g_focus == hWnd) {
        call_window_proc(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
        if (w->widget) {
            g_moving_focus = true;
            w->widget->setFocus(Qt::OtherFocusReason);
            g_moving_focus = false;
        }
        repaint(hWnd);
    }
    return old;
}

// The focus and the active window of the thread that owns the windows.
BOOL WINAPI GetGUIThreadInfo(DWORD idThread, PGUITHREADINFO pgui) {
    using namespace w32;
    if (!pgui || pgui->cbSize != sizeof(GUITHREADINFO)) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HWND focus = nullptr;
    const DWORD owner = static_cast<DWORD>(run_on_owner(nullptr, [&focus] {
        focus = focus_window();
        return LRESULT(GetCurrentThreadId());
    }));
    const DWORD size = pgui->cbSize;
    std::memset(pgui, 0, sizeof *pgui);
    pgui->cbSize = size;
    if (idThread == 0 || idThread == owner) {
        pgui->hwndFocus = focus;
        pgui->hwndActive = dialog_of(focus);
    }
    return TRUE;
}

}  // extern "C"
