// The "Edit" control: its window procedure answers the edit messages from the text model and
// shows the result in the Qt view; the user's own edits in the view come back the same way.
// Everything here runs on the owner thread (sends from other threads arrive marshalled).
#include <QFont>
#include <QRect>
#include <QWidget>
#include <memory>

#include "edit_model.h"
#include "edit_view.h"
#include "user_private.h"

namespace w32 {

namespace {

struct EditWindow : Window {
    std::unique_ptr<EditModel> model;
    std::unique_ptr<EditView> view;
};

std::shared_ptr<EditWindow> find_edit(HWND hwnd) {
    return std::dynamic_pointer_cast<EditWindow>(find_window(hwnd));
}

void notify(const EditWindow& w, WORD code) {
    if (w.parent)
        call_window_proc(w.parent, WM_COMMAND, MAKEWPARAM(w.id, code),
                         reinterpret_cast<LPARAM>(w.hwnd));
}

// The notifications of one edit operation, sent once the model and the view agree, since the
// parent may answer them with messages of its own to this edit. Win32 sends EN_MAXTEXT before
// it changes anything, then EN_UPDATE and EN_CHANGE. A character dropped whole at the limit
// changed nothing and gets EN_MAXTEXT alone (Wine sends the other two all the same).
void notify_result(const EditWindow& w, const EditResult& r) {
    if (r.hit_limit) notify(w, EN_MAXTEXT);
    if (!r.change.empty()) {
        notify(w, EN_UPDATE);
        notify(w, EN_CHANGE);
    }
}

void apply(EditWindow& w, const EditResult& r) {
    if (w.view) w.view->apply(r.change);
}

bool read_only(const EditWindow& w) { return (w.style & ES_READONLY) != 0; }

LRESULT on_char(const std::shared_ptr<EditWindow>& w, WPARAM wp) {
    if (read_only(*w)) return 1;
    // An ANSI window's character is one byte; UTF-8 sequences are assembled by the model.
    const unsigned char byte = static_cast<unsigned char>(wp & 0xFF);
    EditResult results[2];
    int n = 0;
    bool again = true;
    while (again && n < 2) {
        results[n] = w->model->type_byte(byte, &again);
        apply(*w, results[n]);
        ++n;
    }
    for (int i = 0; i < n; ++i) notify_result(*w, results[i]);
    return 1;
}

LRESULT on_set_text(const std::shared_ptr<EditWindow>& w, LPARAM lp) {
    const char* s = reinterpret_cast<const char*>(lp);
    w->model->set_text(s ? s : "");
    if (w->view) w->view->reset();
    // Observed: a single-line edit reports the new text, a multi-line edit does not.
    if (!w->model->multiline()) {
        notify(*w, EN_UPDATE);
        notify(*w, EN_CHANGE);
    }
    return TRUE;
}

LRESULT on_get_sel(const EditWindow& w, WPARAM wp, LPARAM lp) {
    const std::size_t start = w.model->sel_start(), end = w.model->sel_end();
    if (wp) *reinterpret_cast<DWORD*>(wp) = static_cast<DWORD>(start);
    if (lp) *reinterpret_cast<DWORD*>(lp) = static_cast<DWORD>(end);
    // Positions past 65535 do not fit the packed result: it is -1, and only the pointers tell.
    if (start > 0xFFFF || end > 0xFFFF) return -1;
    return MAKELONG(start, end);
}

LRESULT on_replace_sel(const std::shared_ptr<EditWindow>& w, LPARAM lp) {
    const char* s = reinterpret_cast<const char*>(lp);
    w->model->drop_pending();
    const EditResult r = w->model->replace_selection(s ? s : "", true);
    apply(*w, r);
    notify_result(*w, r);
    return 1;
}

LRESULT on_set_read_only(EditWindow& w, WPARAM wp) {
    if (wp)
        w.style |= ES_READONLY;
    else
        w.style &= ~static_cast<DWORD>(ES_READONLY);
    if (w.view) w.view->set_read_only(wp != 0);
    return 1;
}

// An edit selects its text when the keyboard brings the focus, and wants characters and arrows;
// a multi-line edit wants every key but Tab, Esc and (without ES_WANTRETURN) Enter, which it
// leaves to the dialog.
LRESULT dlg_code(const EditWindow& w, LPARAM lp) {
    LRESULT code = DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS;
    if (!w.model->multiline()) return code;
    if (const MSG* m = reinterpret_cast<const MSG*>(lp); m && m->message == WM_KEYDOWN) {
        if (m->wParam == VK_TAB || m->wParam == VK_ESCAPE) return code;
        if (m->wParam == VK_RETURN && !(w.style & ES_WANTRETURN)) return code;
    }
    return code | DLGC_WANTALLKEYS;
}

LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    // Held for the whole call: a notification may destroy the window under us.
    const std::shared_ptr<EditWindow> w = find_edit(hwnd);
    if (!w || !w->model || w->destroyed) return DefWindowProcA(hwnd, msg, wp, lp);
    EditModel& m = *w->model;
    switch (msg) {
        case WM_CHAR:
            return on_char(w, wp);
        case WM_SETTEXT:
            return on_set_text(w, lp);
        case WM_GETTEXT:
            if (!lp) return 0;
            return static_cast<LRESULT>(m.copy_text(reinterpret_cast<char*>(lp), wp));
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(m.text().size());
        case EM_GETSEL:
            return on_get_sel(*w, wp, lp);
        case EM_SETSEL:
            m.set_selection(static_cast<std::uint32_t>(wp), static_cast<std::uint32_t>(lp));
            if (w->view) w->view->show_selection();
            return 1;
        case EM_REPLACESEL:
            return on_replace_sel(w, lp);
        case EM_LIMITTEXT:
            m.set_limit(static_cast<std::uint32_t>(wp));
            return 0;
        case EM_GETLIMITTEXT:
            // As a 32-bit LRESULT: the multi-line maximum reads as -1.
            return static_cast<LONG>(m.limit());
        case EM_GETLINECOUNT:
            return static_cast<LRESULT>(m.line_count());
        case EM_SETREADONLY:
            return on_set_read_only(*w, wp);
        case WM_GETDLGCODE:
            return dlg_code(*w, lp);
        case WM_SETFOCUS:
            notify(*w, EN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            notify(*w, EN_KILLFOCUS);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

// What the user does in the view goes through the model like typing: the limit holds, and the
// parent hears of it. The notifications wait for the widget to finish its own edit.
void on_user_edit(HWND hwnd, std::size_t a, std::size_t b, const std::string& text) {
    const std::shared_ptr<EditWindow> w = find_edit(hwnd);
    if (!w || w->destroyed || !w->view) return;
    const EditResult r = w->model->replace_range(a, b, text, true);
    w->model->drop_pending();
    const std::weak_ptr<EditWindow> weak = w;
    w->view->later([weak, r] {
        const std::shared_ptr<EditWindow> w = weak.lock();
        if (!w || w->destroyed) return;
        // The widget shows what the user typed; the model may have kept less of it.
        if (r.hit_limit && w->view) w->view->reset();
        notify_result(*w, r);
    });
}

void on_user_select(HWND hwnd, std::size_t a, std::size_t b) {
    const std::shared_ptr<EditWindow> w = find_edit(hwnd);
    if (!w || w->destroyed) return;
    w->model->drop_pending();
    w->model->select(a, b);
}

}  // namespace

std::shared_ptr<Window> create_edit(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                    DWORD ex_style, const std::string& text, const QRect& rect,
                                    const QFont& font) {
    // An edit control draws its border as a sunken client edge: WS_BORDER becomes
    // WS_EX_CLIENTEDGE, as GetWindowLongA then reports.
    if (style & WS_BORDER) {
        style &= ~static_cast<DWORD>(WS_BORDER);
        ex_style |= WS_EX_CLIENTEDGE;
    }
    auto w = std::make_shared<EditWindow>();
    init_window(*w, "Edit", edit_proc, parent, id, style, ex_style, text);
    w->model = std::make_unique<EditModel>((style & ES_MULTILINE) != 0, text);
    w->view = std::make_unique<EditView>(*w->model, parent_widget, style, ex_style, rect, font);
    w->widget = w->view->widget();
    const HWND hwnd = add_window(w);
    if (!hwnd) {
        delete w->widget;
        return nullptr;
    }
    w->view->on_user_edit = [hwnd](std::size_t a, std::size_t b, const std::string& s) {
        on_user_edit(hwnd, a, b, s);
    };
    w->view->on_user_select = [hwnd](std::size_t a, std::size_t b) { on_user_select(hwnd, a, b); };
    return w;
}

}  // namespace w32
