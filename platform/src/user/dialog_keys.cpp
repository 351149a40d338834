// The dialog manager's keyboard interface: Tab and the arrows among the controls, Enter to the
// default push button, Esc to IDCANCEL, and the default button's look following the focus. Keys
// reach it as WM_KEYDOWN posted to the focused control, whether a program posted them or they
// were typed in the toolkit's widgets (key_route.cpp).
#include "user_private.h"

namespace w32 {
namespace {

bool is_push_button(HWND h) {
    LRESULT code = call_window_proc(h, WM_GETDLGCODE, 0, 0);
    return (code & DLGC_BUTTON) && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON));
}

bool usable(const Window& c) { return (c.style & WS_VISIBLE) && !(c.style & WS_DISABLED); }

using Controls = std::vector<std::shared_ptr<Window>>;

// The next tab stop from the control at `at` (or from before the first, or after the last),
// round the dialog once.
HWND next_tab_stop(const Controls& kids, int at, HWND hCtl, bool back) {
    const int n = static_cast<int>(kids.size());
    for (int step = 1; step <= n; ++step) {
        int i = at < 0 ? (back ? n - step : step - 1) : ((at + (back ? -step : step)) % n + n) % n;
        if (usable(*kids[i]) && (kids[i]->style & WS_TABSTOP)) return kids[i]->hwnd;
    }
    // No tab stop at all: the focus stays, or goes to the first control that can take it.
    if (hCtl) return hCtl;
    for (const auto& c : kids)
        if (usable(*c)) return c->hwnd;
    return nullptr;
}

// The next control of the group of the control at `at`: from the last WS_GROUP control at or
// before it, up to the next one.
HWND next_in_group(const Controls& kids, int at, HWND hCtl, bool back) {
    const int n = static_cast<int>(kids.size());
    if (at < 0) at = 0;
    if (n == 0) return nullptr;
    int first = at;
    while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
    int end = at + 1;
    while (end < n && !(kids[end]->style & WS_GROUP)) ++end;
    const int size = end - first;
    for (int step = 1; step < size; ++step) {
        int i = first + ((at - first + (back ? -step : step)) % size + size) % size;
        if (usable(*kids[i])) return kids[i]->hwnd;
    }
    return hCtl;
}

// What `next` finds among the dialog's controls, in template order, from where `hCtl` stands
// among them (-1 if it is not one); NULL, with Win32's error, for a window that is not there.
HWND next_control(HWND hDlg, HWND hCtl, BOOL bPrevious,
                  HWND (*next)(const Controls&, int, HWND, bool)) {
    if (!find_window(hDlg)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const Controls kids = child_windows(hDlg);
    int at = -1;
    for (int i = 0; i < static_cast<int>(kids.size()); ++i)
        if (kids[i]->hwnd == hCtl) at = i;
    return next(kids, at, hCtl, bPrevious != FALSE);
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
    for (const auto& c : child_windows(dlg)) {
        if (!is_push_button(c->hwnd)) continue;
        call_window_proc(c->hwnd, BM_SETSTYLE, c->hwnd == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                         TRUE);
    }
}

// The focus as the keyboard gives it: the text of an edit is selected.
void select_focus(HWND target) {
    SetFocus(target);
    if (call_window_proc(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        call_window_proc(target, EM_SETSEL, 0, -1);
}

// The focus as the dialog manager moves it (WM_NEXTDLGCTL, Tab): the default look goes to the
// focused push button as well.
void keyboard_focus(HWND dlg, HWND target) {
    select_focus(target);
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

}  // namespace

void init_dialog_keys(HWND dlg) {
    install_key_route();
    follow_toolkit_focus();
    auto d = find_window(dlg);
    if (!d) return;
    // Each BS_DEFPUSHBUTTON made takes the default from the one before it.
    HWND def = nullptr;
    for (const auto& c : child_windows(dlg)) {
        if (!(call_window_proc(c->hwnd, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)) continue;
        if (def) call_window_proc(def, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
        def = c->hwnd;
        d->def_id = c->id;
    }
}

void set_initial_focus(HWND dlg) {
    if (HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE)) select_focus(first);
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
                for (const auto& c : child_windows(dlg))
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
    if (replay_toolkit_key(msg)) return true;
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

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    return w32::next_control(hDlg, hCtl, bPrevious, w32::next_tab_stop);
}

HWND WINAPI GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    return w32::next_control(hDlg, hCtl, bPrevious, w32::next_in_group);
}

}  // extern "C"
