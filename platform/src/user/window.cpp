// The window tree: handles, parents and children, geometry, text, creation and destruction.
#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <cstring>

#include "kernel/fold_case.h"
#include "user_private.h"

namespace w32 {
namespace {

// Guards every Window's `children`, `parent` and `destroyed`: other threads look up dialog
// items while the owner creates and destroys windows.
std::mutex& tree_mutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Window> find_or_fail(HWND hwnd) {
    auto w = find_window(hwnd);
    if (!w) set_error(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

// Screen rectangle of the whole window, and screen position of its client area's origin.
QRect window_rect(const Window& w) {
    if (!w.widget) return QRect();
    if (w.widget->isWindow()) return w.widget->frameGeometry();
    return QRect(w.widget->mapToGlobal(QPoint(0, 0)), w.widget->size());
}

QPoint client_origin(const Window& w) {
    if (!w.widget) return QPoint();
    int b = frame_width(w);
    return w.widget->mapToGlobal(QPoint(b, b));
}

RECT to_rect(const QRect& r) {
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// Geometry lives in Qt widgets, which only the owner thread may touch.
template <class F>
BOOL on_owner(HWND hwnd, F f) {
    return static_cast<BOOL>(run_on_owner(hwnd, [&]() -> LRESULT { return f(); }));
}

// Win32 sends WM_DESTROY to a window before its children, WM_NCDESTROY after them.
void destroy_tree(const std::shared_ptr<Window>& w) {
    call_window_proc(w->hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> kids;
    {
        std::lock_guard<std::mutex> lock(tree_mutex());
        kids = w->children;
    }
    for (HWND k : kids) {
        if (auto child = find_window(k)) destroy_tree(child);
    }
    call_window_proc(w->hwnd, WM_NCDESTROY, 0, 0);
    kill_window_timers(w->hwnd);
    forget_focus(w->hwnd);
    {
        std::lock_guard<std::mutex> lock(tree_mutex());
        w->destroyed = true;
        w->children.clear();
    }
    remove_handle(w->hwnd, Kind::Window);
    release_sends_to(w->hwnd);
    w->widget = nullptr;
}

// The longest prefix of `s` that fits `max` bytes without cutting a UTF-8 sequence in two.
size_t utf8_fit(const std::string& s, size_t max) {
    if (s.size() <= max) return s.size();
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

}  // namespace

void init_window(Window& w, const char* cls, WNDPROC proc, HWND parent, int id, DWORD style,
                 DWORD ex_style, const std::string& text) {
    w.class_name = cls;
    w.proc = proc;
    w.parent = parent;
    w.id = id;
    w.style = style;
    w.ex_style = ex_style;
    w.text = text;
}

HWND add_window(const std::shared_ptr<Window>& w) {
    w->hwnd = static_cast<HWND>(add_handle(Kind::Window, w));
    if (!w->hwnd) return nullptr;
    if (w->parent) {
        if (auto p = find_window(w->parent)) {
            std::lock_guard<std::mutex> lock(tree_mutex());
            p->children.push_back(w->hwnd);
        }
    }
    return w->hwnd;
}

std::shared_ptr<Window> find_window(HWND hwnd) {
    auto w = find<Window>(hwnd, Kind::Window);
    if (!w) return nullptr;
    std::lock_guard<std::mutex> lock(tree_mutex());
    return w->destroyed ? nullptr : w;
}

std::vector<std::shared_ptr<Window>> child_windows(HWND parent) {
    std::vector<std::shared_ptr<Window>> out;
    auto p = find_window(parent);
    if (!p) return out;
    std::vector<HWND> kids;
    {
        std::lock_guard<std::mutex> lock(tree_mutex());
        kids = p->children;
    }
    for (HWND k : kids)
        if (auto c = find_window(k)) out.push_back(c);
    return out;
}

HWND dialog_of(HWND h) {
    while (h) {
        auto w = find_window(h);
        if (!w) return nullptr;
        if (w->class_name == "#32770") return h;
        h = w->parent;
    }
    return nullptr;
}

LRESULT call_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = find_window(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, msg, wp, lp);
}

DWORD edge_ex_style(DWORD style, DWORD ex_style) {
    if ((ex_style & WS_EX_DLGMODALFRAME) ||
        (!(ex_style & WS_EX_STATICEDGE) && (style & (WS_DLGFRAME | WS_THICKFRAME))))
        return ex_style | WS_EX_WINDOWEDGE;
    return ex_style & ~static_cast<DWORD>(WS_EX_WINDOWEDGE);
}

int frame_width(const Window& w) {
    if (!(w.style & WS_CHILD)) return 0;
    int b = 0;
    if (w.style & WS_THICKFRAME)
        b = 4;  // SM_CXFRAME
    else if ((w.style & WS_DLGFRAME) || (w.ex_style & WS_EX_DLGMODALFRAME))
        b = 3;  // SM_CXDLGFRAME
    else if (w.style & WS_BORDER)
        b = 1;                                  // SM_CXBORDER
    if (w.ex_style & WS_EX_CLIENTEDGE) b += 2;  // SM_CXEDGE
    return b;
}

}  // namespace w32

extern "C" {

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    using namespace w32;
    if (!find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Every window belongs to the owner thread.
    if (lpdwProcessId) *lpdwProcessId = 1;
    return static_cast<DWORD>(run_on_owner(hWnd, [] { return LRESULT(GetCurrentThreadId()); }));
}

BOOL WINAPI IsWindow(HWND hWnd) { return w32::find_window(hWnd) != nullptr; }

HWND WINAPI GetParent(HWND hWnd) {
    auto w = w32::find_or_fail(hWnd);
    if (!w) return nullptr;
    std::lock_guard<std::mutex> lock(w32::tree_mutex());
    return w->parent;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    using namespace w32;
    if (!find_or_fail(hDlg)) return nullptr;
    for (const auto& c : child_windows(hDlg))
        if (c->id == nIDDlgItem) return c->hwnd;
    set_error(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    auto w = w32::find_or_fail(hWnd);
    return w ? w->id : 0;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w) return 0;
    switch (nIndex) {
        case GWL_STYLE:
            return static_cast<LONG>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(w->ex_style);
        case GWL_ID:
            return w->id;
        case GWL_USERDATA:
            return static_cast<LONG>(w->user_data);
        case GWL_HINSTANCE:
            return static_cast<LONG>(reinterpret_cast<intptr_t>(w->instance));
        case GWL_HWNDPARENT: {
            std::lock_guard<std::mutex> lock(tree_mutex());
            return static_cast<LONG>(reinterpret_cast<intptr_t>(w->parent));
        }
        case DWLP_MSGRESULT:
            if (w->dlgproc) return 0;  // no dialog procedure here ever sets a message result
            break;
    }
    set_error(ERROR_INVALID_INDEX);
    return 0;
}

// The class name as it was registered, whatever letter case the window was created with;
// cut to the buffer like any copied string.
int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w || !lpClassName || nMaxCount <= 0) return 0;
    size_t n = utf8_fit(w->class_name, static_cast<size_t>(nMaxCount - 1));
    std::memcpy(lpClassName, w->class_name.data(), n);
    lpClassName[n] = '\0';
    return static_cast<int>(n);
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w) return 0;
    LONG old = 0;
    switch (nIndex) {
        case GWL_STYLE:
            old = static_cast<LONG>(w->style);
            w->style = static_cast<DWORD>(dwNewLong);
            return old;
        case GWL_EXSTYLE:
            old = static_cast<LONG>(w->ex_style);
            w->ex_style = static_cast<DWORD>(dwNewLong);
            return old;
        case GWL_USERDATA:
            old = static_cast<LONG>(w->user_data);
            w->user_data = dwNewLong;
            return old;
    }
    set_error(ERROR_INVALID_INDEX);
    return 0;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (!lpString || nMaxCount <= 0) return 0;
    lpString[0] = '\0';
    return static_cast<int>(
        SendMessageA(hWnd, WM_GETTEXT, nMaxCount, reinterpret_cast<LPARAM>(lpString)));
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    return static_cast<BOOL>(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w || !lpRect) return FALSE;
    return on_owner(hWnd, [&] {
        *lpRect = to_rect(window_rect(*w));
        return TRUE;
    });
}

// Minimizes (through the window manager, which may refuse), restores, hides or shows a window;
// whether it was visible before.
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w) return FALSE;
    return on_owner(hWnd, [&] {
        QWidget* widget = w->widget;
        if (!widget) return FALSE;
        const BOOL was_visible = widget->isVisible();
        switch (nCmdShow) {
            case SW_HIDE: widget->hide(); break;
            case SW_MINIMIZE: widget->showMinimized(); break;
            case SW_RESTORE: widget->showNormal(); break;
            default: widget->show(); break;
        }
        w->style = (w->style & ~(WS_VISIBLE | WS_MINIMIZE)) |
                   (widget->isVisible() ? WS_VISIBLE : 0) |
                   (widget->isMinimized() ? WS_MINIMIZE : 0);
        return was_visible;
    });
}

BOOL WINAPI IsIconic(HWND hWnd) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w) return FALSE;
    return on_owner(hWnd, [&] { return w->widget && w->widget->isMinimized() ? TRUE : FALSE; });
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w || !lpRect) return FALSE;
    return on_owner(hWnd, [&] {
        int b = frame_width(*w);
        QSize s = w->widget ? w->widget->size() : QSize();
        *lpRect = RECT{0, 0, std::max(0, s.width() - 2 * b), std::max(0, s.height() - 2 * b)};
        return TRUE;
    });
}

int WINAPI MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints) {
    using namespace w32;
    std::shared_ptr<Window> from, to;
    if ((hWndFrom && !(from = find_or_fail(hWndFrom))) || (hWndTo && !(to = find_or_fail(hWndTo))))
        return 0;
    QPoint d;
    on_owner(hWndFrom ? hWndFrom : hWndTo, [&] {
        d = (from ? client_origin(*from) : QPoint()) - (to ? client_origin(*to) : QPoint());
        return TRUE;
    });
    for (UINT i = 0; lpPoints && i < cPoints; ++i) {
        lpPoints[i].x += d.x();
        lpPoints[i].y += d.y();
    }
    set_error(ERROR_SUCCESS);  // a 0 result is then not an error
    return MAKELONG(static_cast<WORD>(d.x()), static_cast<WORD>(d.y()));
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    using namespace w32;
    auto w = find_or_fail(hWnd);
    if (!w) return FALSE;
    // Win32 lets only the thread that owns a window destroy it.
    if (!on_owner_thread()) {
        set_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (w->parent) {
        if (auto p = find_window(w->parent)) {
            std::lock_guard<std::mutex> lock(tree_mutex());
            auto& c = p->children;
            c.erase(std::remove(c.begin(), c.end(), hWnd), c.end());
        }
    }
    QWidget* view = w->widget;
    destroy_tree(w);
    if (view) {
        // Later: the window may be destroyed from inside one of its own Qt event handlers.
        view->hide();
        view->deleteLater();
    }
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    using namespace w32;
    auto w = find_window(hWnd);
    if (!w) return 0;
    switch (Msg) {
        case WM_SETTEXT:
            w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
            if (w->widget && w->widget->isWindow())
                w->widget->setWindowTitle(QString::fromStdString(w->text));
            return TRUE;
        case WM_GETTEXT: {
            char* buf = reinterpret_cast<char*>(lParam);
            if (!buf || wParam == 0) return 0;
            size_t n = utf8_fit(w->text, wParam - 1);
            std::memcpy(buf, w->text.data(), n);
            buf[n] = '\0';
            return static_cast<LRESULT>(n);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w->text.size());
        case WM_PAINT: {
            PAINTSTRUCT ps;
            if (BeginPaint(hWnd, &ps)) EndPaint(hWnd, &ps);
            return 0;
        }
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_QUERYENDSESSION:  // a window that does not object lets the session end
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hWnd, WM_CLOSE, 0, 0);
            return 0;
    }
    return 0;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    using namespace w32;
    if (!lpClassName || IS_INTRESOURCE(lpClassName)) {
        set_error(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    ensure_app();
    if (!on_owner_thread()) {
        // Every window belongs to the owner thread: make it there.
        return reinterpret_cast<HWND>(run_on_owner(nullptr, [=] {
            return reinterpret_cast<LRESULT>(
                CreateWindowExA(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth,
                                nHeight, hWndParent, hMenu, hInstance, lpParam));
        }));
    }
    const bool child = (dwStyle & WS_CHILD) != 0;
    dwExStyle = edge_ex_style(dwStyle, dwExStyle);
    std::shared_ptr<Window> parent;
    if (hWndParent && !(parent = find_or_fail(hWndParent))) return nullptr;
    if (child && !parent) {
        set_error(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (!child) {
        if (X == CW_USEDEFAULT) X = Y = 0;
        if (nWidth == CW_USEDEFAULT) {
            nWidth = 640;
            nHeight = 480;
        }
    }
    QWidget* parent_widget = child ? parent->widget : nullptr;
    int b = child ? frame_width(*parent) : 0;
    QRect rect(X + b, Y + b, std::max(0, nWidth), std::max(0, nHeight));
    HWND owner = child ? hWndParent : nullptr;  // owners of top-level windows are not kept
    int id = child ? static_cast<int>(reinterpret_cast<intptr_t>(hMenu)) : 0;
    std::string text = lpWindowName ? lpWindowName : "";
    QFont font = parent_widget ? parent_widget->font() : QApplication::font();

    const std::string cls = fold_case(std::string(lpClassName));
    std::shared_ptr<Window> w;
    bool builtin = true;
    if (cls == "button")
        w = create_button(owner, parent_widget, id, dwStyle, dwExStyle, text, rect, font);
    else if (cls == "static")
        w = create_static(owner, parent_widget, id, dwStyle, dwExStyle, text, rect, font);
    else if (cls == "edit")
        w = create_edit(owner, parent_widget, id, dwStyle, dwExStyle, text, rect, font);
    else {
        builtin = false;
        w = create_class_window(lpClassName, owner, parent_widget, id, dwStyle, dwExStyle, text,
                                rect, hInstance);
    }
    if (!w) return nullptr;
    w->instance = hInstance;
    HWND hwnd = w->hwnd;
    if (!builtin) {
        CREATESTRUCTA cs{lpParam,
                         hInstance,
                         hMenu,
                         hWndParent,
                         nHeight,
                         nWidth,
                         Y,
                         X,
                         static_cast<LONG>(dwStyle),
                         lpWindowName,
                         lpClassName,
                         dwExStyle};
        if (call_window_proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            DestroyWindow(hwnd);
            return nullptr;
        }
        if (!IsWindow(hwnd)) return nullptr;
    }
    if (w->widget) w->widget->setVisible((dwStyle & WS_VISIBLE) != 0);
    return hwnd;
}

}  // extern "C"
