// The dialog manager's keyboard interface: the keyboard focus, Tab and the arrows among the
// controls, Enter to the default push button, Esc to IDCANCEL, and the default button's look
// following the focus. Keys typed in the toolkit's widgets come here as WM_KEYDOWN/WM_KEYUP
// posted to the focused control, so that they take the same path as the keys a program posts.
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <cstring>

#include "layer.h"

namespace w32 {
namespace {

HWND g_focus = nullptr;
bool g_moving_focus = false;  // the layer is moving Qt's focus itself
bool g_replaying = false;     // a toolkit key is being handed back to its widget

// A toolkit key that the widget keeps (typing in an edit) waits in the posted queue behind the
// keys routed before it, so that keys typed ahead arrive in the order they were typed.
const UINT kToolkitKey = WM_USER - 1;
struct HeldKey {
    QPointer<QWidget> widget;
    std::unique_ptr<QKeyEvent> event;
};
BYTE g_keys[256];  // the owner thread's key state, as GetKeyboardState gives it

bool is_push_button(HWND h) {
    LRESULT code = call_window_proc(h, WM_GETDLGCODE, 0, 0);
    return (code & DLGC_BUTTON) && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON));
}

// The dialog that `h` belongs to (itself if it is one), or NULL.
HWND dialog_of(HWND h) {
    while (h) {
        auto w = find_window(h);
        if (!w) return nullptr;
        if (w->class_name == "#32770") return h;
        h = w->parent;
    }
    return nullptr;
}

bool usable(const Window& c) { return (c.style & WS_VISIBLE) && !(c.style & WS_DISABLED); }

std::vector<std::shared_ptr<Window>> usable_children(HWND dlg) {
    std::vector<std::shared_ptr<Window>> out;
    auto d = find_window(dlg);
    if (!d) return out;
    std::vector<HWND> kids = d->children;
    for (HWND k : kids) {
        auto c = find_window(k);
        if (c) out.push_back(c);
    }
    return out;
}

// Moves the focus; `keyboard` gives it as the dialog manager does (WM_NEXTDLGCTL, Tab): the
// text of an edit is selected and the default look goes to the focused push button.
void keyboard_focus(HWND dlg, HWND target);

void repaint(HWND h) {
    if (auto w = find_window(h); w && w->widget) w->widget->update();
}

// The default border: on the focused push button, else on the dialog's default button.
void fix_default_look(HWND dlg, HWND focus) {
    HWND def = nullptr;
    if (focus && is_push_button(focus)) {
        def = focus;
    } else {
        LRESULT id = SendMessageA(dlg, DM_GETDEFID, 0, 0);
        if (HIWORD(id) == DC_HASDEFID) def = GetDlgItem(dlg, LOWORD(id));
    }
    for (const auto& c : usable_children(dlg)) {
        if (!is_push_button(c->hwnd)) continue;
        call_window_proc(c->hwnd, BM_SETSTYLE, c->hwnd == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                         TRUE);
    }
}

void keyboard_focus(HWND dlg, HWND target) {
    if (!target) return;
    SetFocus(target);
    if (call_window_proc(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        call_window_proc(target, EM_SETSEL, 0, -1);
    fix_default_look(dlg, target);
}

// What Enter does: the focused push button if it has the default look, else the dialog's
// default button (if enabled), else IDOK.
void press_default(HWND dlg) {
    HWND focus = focus_window();
    if (focus && dialog_of(focus) == dlg && focus != dlg &&
        (call_window_proc(focus, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)) {
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                     reinterpret_cast<LPARAM>(focus));
        return;
    }
    LRESULT def = SendMessageA(dlg, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID) {
        HWND button = GetDlgItem(dlg, LOWORD(def));
        auto b = find_window(button);
        if (!b || !(b->style & WS_DISABLED))
            SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        return;
    }
    SendMessageA(dlg, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
}

// The character of a key, as TranslateMessage makes it; 0 for none.
char key_char(WPARAM vk) {
    const bool shift = (g_keys[VK_SHIFT] & 0x80) != 0;
    if (vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE || vk == VK_SPACE)
        return static_cast<char>(vk);
    if (vk >= '0' && vk <= '9') return static_cast<char>(vk);
    if (vk >= 'A' && vk <= 'Z') return static_cast<char>(shift ? vk : vk - 'A' + 'a');
    return 0;
}

// The virtual key of a toolkit key that the dialog manager owns while the focus is on `focus`;
// 0 for keys that the toolkit's widget keeps (typing and editing keys in an edit).
WPARAM owned_key(const QKeyEvent& e, const Window& focus) {
    const bool edit = focus.class_name == "Edit";
    switch (e.key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return edit ? 0 : VK_SPACE;
        case Qt::Key_Left:
            return edit ? 0 : VK_LEFT;
        case Qt::Key_Right:
            return edit ? 0 : VK_RIGHT;
        case Qt::Key_Up:
            return edit ? 0 : VK_UP;
        case Qt::Key_Down:
            return edit ? 0 : VK_DOWN;
    }
    return 0;
}

// Takes the dialog's keys from the toolkit's widgets before they see them, and posts them to
// the focused control as the system posts a key.
class KeyRouter : public QObject {
protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        const bool press = ev->type() == QEvent::KeyPress;
        if (!press && ev->type() != QEvent::KeyRelease && ev->type() != QEvent::ShortcutOverride)
            return false;
        auto* widget = qobject_cast<QWidget*>(obj);
        HWND focus = focus_window();
        auto f = find_window(focus);
        HWND dlg = dialog_of(focus);
        auto d = find_window(dlg);
        if (!widget || !f || !d || !d->widget || widget->window() != d->widget) return false;
        if (g_replaying) return false;
        auto* key = static_cast<QKeyEvent*>(ev);
        if (key->key() == Qt::Key_Shift && ev->type() != QEvent::ShortcutOverride)
            g_keys[VK_SHIFT] = press ? 0x80 : 0;
        const WPARAM vk = owned_key(*key, *f);
        if (!vk) {
            if (ev->type() == QEvent::ShortcutOverride) return false;
            auto* held = new HeldKey{widget, std::unique_ptr<QKeyEvent>(key->clone())};
            PostMessageA(focus, kToolkitKey, 0, reinterpret_cast<LPARAM>(held));
            return true;
        }
        if (ev->type() == QEvent::ShortcutOverride) {
            key->accept();  // no shortcut takes it either: it comes back as a key press
            return true;
        }
        g_keys[VK_SHIFT] = (key->modifiers() & Qt::ShiftModifier) ? 0x80 : 0;
        if (press)
            PostMessageA(focus, WM_KEYDOWN, vk, key->isAutoRepeat() ? 0x40000001 : 1);
        else if (!key->isAutoRepeat())
            PostMessageA(focus, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
        return true;
    }
};

// The layer's focus follows a click into a control.
void follow_toolkit_focus(QWidget* now) {
    if (g_moving_focus || !now) return;
    HWND dlg = dialog_of(g_focus);
    for (const auto& c : usable_children(dlg)) {
        if (c->widget && (c->widget == now || c->widget->isAncestorOf(now))) {
            if (c->hwnd != g_focus) SetFocus(c->hwnd);
            return;
        }
    }
}

// A key of the keyboard as the toolkit reports it, for keybd_event.
QKeyEvent* toolkit_key(BYTE vk, bool up) {
    const bool shift = (g_keys[VK_SHIFT] & 0x80) != 0;
    int key = 0;
    QString text;
    switch (vk) {
        case VK_TAB:
            key = shift ? Qt::Key_Backtab : Qt::Key_Tab;
            text = QStringLiteral("\t");
            break;
        case VK_RETURN:
            key = Qt::Key_Return;
            text = QStringLiteral("\r");
            break;
        case VK_ESCAPE:
            key = Qt::Key_Escape;
            text = QString(QChar(27));
            break;
        case VK_SPACE:
            key = Qt::Key_Space;
            text = QStringLiteral(" ");
            break;
        case VK_BACK:
            key = Qt::Key_Backspace;
            text = QString(QChar(8));
            break;
        case VK_SHIFT:
            key = Qt::Key_Shift;
            break;
        case VK_LEFT:
            key = Qt::Key_Left;
            break;
        case VK_RIGHT:
            key = Qt::Key_Right;
            break;
        case VK_UP:
            key = Qt::Key_Up;
            break;
        case VK_DOWN:
            key = Qt::Key_Down;
            break;
        default:
            if (const char c = key_char(vk)) {
                key = vk;  // Qt's keys for digits and letters are their upper-case codes
                text = QString(QLatin1Char(c));
            }
    }
    if (!key) return nullptr;
    return new QKeyEvent(up ? QEvent::KeyRelease : QEvent::KeyPress, key,
                         shift ? Qt::ShiftModifier : Qt::NoModifier, text);
}

// Input from the keyboard reaches the focused control's widget, as a key typed there would.
void deliver_key(BYTE vk, bool up) {
    g_keys[vk] = up ? (g_keys[vk] & 1) : static_cast<BYTE>((g_keys[vk] ^ 1) | 0x80);
    auto f = find_window(focus_window());
    if (!f || !f->widget) return;
    std::unique_ptr<QKeyEvent> ev(toolkit_key(vk, up));
    if (ev) QCoreApplication::sendEvent(f->widget, ev.get());
}

void install_router() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    auto* app = QCoreApplication::instance();
    app->installEventFilter(new KeyRouter);
    QObject::connect(qApp, &QApplication::focusChanged, app,
                     [](QWidget*, QWidget* now) { follow_toolkit_focus(now); });
}

}  // namespace

HWND focus_window() {
    if (!on_owner_thread() || !find_window(g_focus)) return nullptr;
    return g_focus;
}

void forget_focus(HWND hwnd) {
    if (g_focus == hwnd) g_focus = nullptr;
}

void init_dialog_keys(HWND dlg) {
    install_router();
    auto d = find_window(dlg);
    if (!d) return;
    // Each BS_DEFPUSHBUTTON made takes the default from the one before it.
    HWND def = nullptr;
    for (const auto& c : usable_children(dlg)) {
        if (!(call_window_proc(c->hwnd, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)) continue;
        if (def) call_window_proc(def, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
        def = c->hwnd;
        d->def_id = c->id;
    }
}

void set_initial_focus(HWND dlg) {
    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    if (!first) return;
    SetFocus(first);
    if (call_window_proc(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        call_window_proc(first, EM_SETSEL, 0, -1);
}

bool dialog_manager_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    auto d = find_window(dlg);
    if (!d) return false;
    switch (msg) {
        case DM_GETDEFID:
            *result = 0;
            if (d->def_id) {
                *result = MAKELONG(d->def_id, DC_HASDEFID);
            } else {
                for (const auto& c : usable_children(dlg))
                    if (call_window_proc(c->hwnd, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) {
                        *result = MAKELONG(c->id, DC_HASDEFID);
                        break;
                    }
            }
            return true;
        case DM_SETDEFID: {
            const HWND old = d->def_id ? GetDlgItem(dlg, d->def_id) : nullptr;
            const HWND now = GetDlgItem(dlg, static_cast<int>(wp));
            if (old && old != now && is_push_button(old))
                call_window_proc(old, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
            d->def_id = static_cast<int>(wp);
            if (now && is_push_button(now))
                call_window_proc(now, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
            *result = TRUE;
            return true;
        }
        case WM_NEXTDLGCTL: {
            HWND target =
                lp ? reinterpret_cast<HWND>(wp) : GetNextDlgTabItem(dlg, focus_window(), wp != 0);
            if (target && dialog_of(target) == dlg && target != dlg) keyboard_focus(dlg, target);
            *result = 0;
            return true;
        }
    }
    return false;
}

bool dialog_message(const MSG& msg) {
    if (msg.message == kToolkitKey) {
        std::unique_ptr<HeldKey> held(reinterpret_cast<HeldKey*>(msg.lParam));
        if (held && held->widget) {
            g_replaying = true;
            QCoreApplication::sendEvent(held->widget, held->event.get());
            g_replaying = false;
        }
        return true;
    }
    if (msg.message != WM_KEYDOWN) return false;
    const HWND dlg = dialog_of(msg.hwnd);
    if (!dlg) return false;
    MSG copy = msg;
    const LRESULT code = msg.hwnd == dlg ? 0
                                         : call_window_proc(msg.hwnd, WM_GETDLGCODE, msg.wParam,
                                                            reinterpret_cast<LPARAM>(&copy));
    if (!(code & DLGC_WANTMESSAGE)) {
        switch (msg.wParam) {
            case VK_TAB:
                if (code & DLGC_WANTTAB) break;
                SendMessageA(dlg, WM_NEXTDLGCTL, (GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0, 0);
                return true;
            case VK_LEFT:
            case VK_RIGHT:
            case VK_UP:
            case VK_DOWN: {
                if (code & DLGC_WANTARROWS) break;
                const bool back = msg.wParam == VK_LEFT || msg.wParam == VK_UP;
                HWND next = GetNextDlgGroupItem(dlg, focus_window(), back);
                if (next) SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), 1);
                return true;
            }
            case VK_ESCAPE:
                SendMessageA(dlg, WM_COMMAND, IDCANCEL,
                             reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
                return true;
            case VK_RETURN:
                press_default(dlg);
                return true;
        }
    }
    // Not the dialog's key: the control gets it, then its character.
    call_window_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (const char c = key_char(msg.wParam); c && IsWindow(msg.hwnd)) {
        MSG ch = msg;
        ch.message = WM_CHAR;
        ch.wParam = static_cast<unsigned char>(c);
        post_first(ch);
    }
    return true;
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

namespace w32 {
// The dialog's controls in template order and where `hCtl` stands among them (-1 if it is not
// one); false, with Win32's error, for a window that is not there.
static bool dialog_children(HWND hDlg, HWND hCtl, std::vector<std::shared_ptr<Window>>* kids,
                            int* at) {
    if (!find_window(hDlg)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    *kids = usable_children(hDlg);
    for (int i = 0; i < static_cast<int>(kids->size()); ++i)
        if ((*kids)[i]->hwnd == hCtl) *at = i;
    return true;
}
}  // namespace w32

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    using namespace w32;
    std::vector<std::shared_ptr<Window>> kids;
    int at = -1;
    if (!dialog_children(hDlg, hCtl, &kids, &at)) return nullptr;
    const int n = static_cast<int>(kids.size());
    // From the control (or from before the first, or after the last), round the dialog once.
    for (int step = 1; step <= n; ++step) {
        int i = at < 0 ? (bPrevious ? n - step : step - 1)
                       : ((at + (bPrevious ? -step : step)) % n + n) % n;
        if (usable(*kids[i]) && (kids[i]->style & WS_TABSTOP)) return kids[i]->hwnd;
    }
    // No tab stop at all: the focus stays, or goes to the first control that can take it.
    if (hCtl) return hCtl;
    for (const auto& c : kids)
        if (usable(*c)) return c->hwnd;
    return nullptr;
}

HWND WINAPI GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    using namespace w32;
    std::vector<std::shared_ptr<Window>> kids;
    int at = -1;
    if (!dialog_children(hDlg, hCtl, &kids, &at)) return nullptr;
    const int n = static_cast<int>(kids.size());
    if (at < 0) at = 0;
    if (n == 0) return nullptr;
    // The group: from the last WS_GROUP control at or before this one, up to the next one.
    int first = at;
    while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
    int end = at + 1;
    while (end < n && !(kids[end]->style & WS_GROUP)) ++end;
    const int size = end - first;
    for (int step = 1; step < size; ++step) {
        int i = first + ((at - first + (bPrevious ? -step : step)) % size + size) % size;
        if (usable(*kids[i])) return kids[i]->hwnd;
    }
    return hCtl;
}

SHORT WINAPI GetKeyState(int nVirtKey) {
    return static_cast<SHORT>((w32::g_keys[nVirtKey & 0xFF] & 0x80) ? 0xFF80 : 0) |
           (w32::g_keys[nVirtKey & 0xFF] & 1);
}

void WINAPI keybd_event(BYTE bVk, BYTE, DWORD dwFlags, ULONG_PTR) {
    using namespace w32;
    auto* app = QCoreApplication::instance();
    if (!app) return;
    const bool up = (dwFlags & KEYEVENTF_KEYUP) != 0;
    // Input is queued for the thread with the focus and arrives when its loop gets to it.
    post_task([bVk, up] { deliver_key(bVk, up); });
}

BOOL WINAPI GetKeyboardState(PBYTE lpKeyState) {
    if (!lpKeyState) return FALSE;
    std::memcpy(lpKeyState, w32::g_keys, sizeof w32::g_keys);
    return TRUE;
}

BOOL WINAPI SetKeyboardState(PBYTE lpKeyState) {
    if (!lpKeyState) return FALSE;
    std::memcpy(w32::g_keys, lpKeyState, sizeof w32::g_keys);
    return TRUE;
}

}  // extern "C"
