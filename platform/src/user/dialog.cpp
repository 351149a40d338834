// Modal dialogs built from the module's compiled templates, and the dialog manager's defaults.
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QWidget>
#include <atomic>

#include "dlgtemplate.h"
#include "user_private.h"

namespace w32 {
namespace {

struct DialogWindow : Window {
    int base_x = 0;  // dialog base units, in pixels
    int base_y = 0;
    std::atomic<bool> ended{false};
    std::atomic<INT_PTR> result{0};
    QEventLoop* loop = nullptr;  // owner thread only; set while the modal loop runs
};

std::shared_ptr<DialogWindow> find_dialog(HWND hwnd) {
    return std::dynamic_pointer_cast<DialogWindow>(find_window(hwnd));
}

// Win32's MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int mul_div(int a, int b, int c) {
    long long p = static_cast<long long>(a) * b;
    long long q = p >= 0 ? (p + c / 2) / c : (p - c / 2) / c;
    return static_cast<int>(q);
}

// Leaves the modal loop of an ended dialog, hiding it as Win32 does at once. Owner thread.
void leave_loop(HWND hwnd) {
    auto d = find_dialog(hwnd);
    if (!d) return;
    if (d->widget) d->widget->hide();
    if (d->loop) d->loop->quit();
}

class DialogWidget : public QWidget {
public:
    explicit DialogWidget(HWND hwnd) : hwnd_(hwnd) {}

protected:
    // The close box: WM_SYSCOMMAND SC_CLOSE, which ends in WM_COMMAND IDCANCEL.
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        SendMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
private:
    HWND hwnd_;
};

LRESULT def_dlg_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (LRESULT r = 0; dialog_manager_proc(hwnd, msg, wp, lp, &r)) return r;
    if (msg == WM_CLOSE) {
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The dialog's window procedure: the program's dialog procedure first, then the defaults.
LRESULT CALLBACK dialog_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto d = find_dialog(hwnd);
    if (!d) return 0;
    INT_PTR handled = d->dlgproc ? d->dlgproc(hwnd, msg, wp, lp) : 0;
    if (msg == WM_DESTROY) {
        // A dialog destroyed before EndDialog still ends its modal loop.
        d->ended = true;
        leave_loop(hwnd);
    }
    if (handled) {
        // A handled message returns DWLP_MSGRESULT (never set here, so 0), except for the few
        // whose result is the procedure's own return value.
        return msg == WM_INITDIALOG ? handled : 0;
    }
    if (!IsWindow(hwnd)) return 0;
    return def_dlg_proc(hwnd, msg, wp, lp);
}

// Creates the dialog and its controls, hidden. Returns NULL if a control cannot be made.
HWND build(const dlg::Template& t, HINSTANCE instance, DLGPROC proc) {
    auto d = std::make_shared<DialogWindow>();
    d->class_name = "#32770";
    d->proc = dialog_proc;
    d->dlgproc = proc;
    d->style = t.style;
    d->ex_style = edge_ex_style(t.style, t.ex_style);
    d->instance = instance ? instance : GetModuleHandleA(nullptr);
    d->text = t.caption;
    HWND hdlg = add_window(d);
    if (!hdlg) return nullptr;

    auto* view = new DialogWidget(hdlg);
    view->setWindowTitle(QString::fromStdString(t.caption));
    present_as_dialog(view);
    QFont font = dialog_font(t.has_font ? t.face : "MS Shell Dlg",
                             t.has_font && t.point_size > 0 ? t.point_size : 8);
    view->setFont(font);
    // Base units as Win32 computes them: the average width of the 52 letters, rounded, and
    // the font's height.
    QFontMetrics fm(font);
    int extent = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    d->base_x = (extent / 26 + 1) / 2;
    d->base_y = fm.height();
    view->resize(mul_div(t.cx, d->base_x, 4), mul_div(t.cy, d->base_y, 8));
    view->move(mul_div(t.x, d->base_x, 4), mul_div(t.y, d->base_y, 8));
    d->widget = view;

    for (const dlg::Item& c : t.items) {
        // Every control is made with WS_EX_NOPARENTNOTIFY, as the dialog manager makes them.
        void* creation_data =
            c.creation_data.empty() ? nullptr : const_cast<unsigned char*>(c.creation_data.data());
        HWND h = CreateWindowExA(
            c.ex_style | WS_EX_NOPARENTNOTIFY, c.class_name.c_str(), c.text.c_str(), c.style,
            mul_div(c.x, d->base_x, 4), mul_div(c.y, d->base_y, 8), mul_div(c.cx, d->base_x, 4),
            mul_div(c.cy, d->base_y, 8), hdlg, reinterpret_cast<HMENU>(static_cast<intptr_t>(c.id)),
            d->instance, creation_data);
        if (!h) {
            DestroyWindow(hdlg);
            return nullptr;
        }
    }
    label_controls(hdlg);
    return hdlg;
}

// The dialog template `name` of the module, as the dialog manager loads it. Sets the error of a
// missing resource, or of a template the module holds damaged.
bool load_template(HINSTANCE instance, LPCSTR name, dlg::Template* out) {
    HRSRC info = FindResourceA(instance, name, RT_DIALOG);
    if (!info) return false;
    const void* data = LockResource(LoadResource(instance, info));
    if (!data || !dlg::parse(data, SizeofResource(instance, info), out)) {
        set_error(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    return true;
}

}  // namespace

}  // namespace w32

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    using namespace w32;
    ensure_app();
    if (!on_owner_thread()) {
        // Every window belongs to the owner thread: the dialog runs there while this waits.
        return run_on_owner(nullptr, [=] {
            return DialogBoxParamA(hInstance, lpTemplateName, hWndParent, lpDialogFunc,
                                   dwInitParam);
        });
    }
    dlg::Template t;
    if (!load_template(hInstance, lpTemplateName, &t)) return -1;
    HWND hdlg = build(t, hInstance, lpDialogFunc);
    if (!hdlg) return -1;
    auto d = find_dialog(hdlg);
    init_dialog_keys(hdlg);
    HWND first = GetNextDlgTabItem(hdlg, nullptr, FALSE);

    LRESULT focus = SendMessageA(hdlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), dwInitParam);
    if (focus && !d->ended) set_initial_focus(hdlg);
    if (!d->ended && d->widget) {
        d->widget->show();
        QEventLoop loop;
        d->loop = &loop;
        while (!d->ended) loop.exec();
        d->loop = nullptr;
    }
    INT_PTR result = d->result;
    if (IsWindow(hdlg)) DestroyWindow(hdlg);
    // The widgets go now, not at some later turn of an event loop that may never come.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    using namespace w32;
    auto d = find_dialog(hDlg);
    if (!d) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    d->result = nResult;
    d->ended = true;
    if (on_owner_thread())
        leave_loop(hDlg);
    else
        post_task([hDlg] { leave_loop(hDlg); });
    return TRUE;
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
    using namespace w32;
    auto d = find_dialog(hDlg);
    if (!d || !lpRect) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    lpRect->left = mul_div(lpRect->left, d->base_x, 4);
    lpRect->right = mul_div(lpRect->right, d->base_x, 4);
    lpRect->top = mul_div(lpRect->top, d->base_y, 8);
    lpRect->bottom = mul_div(lpRect->bottom, d->base_y, 8);
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) return FALSE;
    return static_cast<BOOL>(SendMessageA(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    if (!lpString || cchMax <= 0) return 0;
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) {
        lpString[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(
        SendMessageA(item, WM_GETTEXT, cchMax, reinterpret_cast<LPARAM>(lpString)));
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) return 0;
    return SendMessageA(item, Msg, wParam, lParam);
}

}  // extern "C"
