// The "Button" (push buttons) and "Static" (text labels) controls over Qt widgets.
#include <QLabel>
#include <QPushButton>

#include "layer.h"

namespace w32 {
namespace {

// What a push button tells its parent when it is clicked, by the mouse or by BM_CLICK.
void notify_clicked(HWND hwnd) {
    auto w = find_window(hwnd);
    if (w && w->parent)
        SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
}

LRESULT CALLBACK button_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case BM_CLICK:
            notify_clicked(hwnd);
            return 0;
        case WM_SETTEXT: {
            LRESULT r = DefWindowProcA(hwnd, msg, wp, lp);
            auto w = find_window(hwnd);
            if (auto* b = w ? qobject_cast<QPushButton*>(w->widget) : nullptr)
                b->setText(QString::fromStdString(w->text));
            return r;
        }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK static_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT r = DefWindowProcA(hwnd, msg, wp, lp);
    if (msg == WM_SETTEXT) {
        auto w = find_window(hwnd);
        if (auto* l = w ? qobject_cast<QLabel*>(w->widget) : nullptr)
            l->setText(QString::fromStdString(w->text));
    }
    return r;
}

std::shared_ptr<Window> make(const char* cls, WNDPROC proc, HWND parent, int id, DWORD style,
                             DWORD ex_style, const std::string& text) {
    auto w = std::make_shared<Window>();
    init_window(*w, cls, proc, parent, id, style, ex_style, text);
    return w;
}

}  // namespace

std::shared_ptr<Window> create_button(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                      DWORD ex_style, const std::string& text, const QRect& rect,
                                      const QFont& font) {
    auto w = make("Button", button_proc, parent, id, style, ex_style, text);
    auto* view = new QPushButton(QString::fromStdString(text), parent_widget);
    view->setGeometry(rect);
    view->setFont(font);
    view->setAutoDefault(false);
    w->widget = view;
    HWND hwnd = add_window(w);
    QObject::connect(view, &QPushButton::clicked, view, [hwnd] { notify_clicked(hwnd); });
    return w;
}

std::shared_ptr<Window> create_static(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                      DWORD ex_style, const std::string& text, const QRect& rect,
                                      const QFont& font) {
    auto w = make("Static", static_proc, parent, id, style, ex_style, text);
    auto* view = new QLabel(QString::fromStdString(text), parent_widget);
    view->setGeometry(rect);
    view->setFont(font);
    view->setTextFormat(Qt::PlainText);
    // SS_LEFT, SS_CENTER and SS_RIGHT all wrap words and start at the top.
    Qt::Alignment h = (style & 3) == SS_CENTER  ? Qt::AlignHCenter
                      : (style & 3) == SS_RIGHT ? Qt::AlignRight
                                                : Qt::AlignLeft;
    view->setAlignment(h | Qt::AlignTop);
    view->setWordWrap(true);
    w->widget = view;
    add_window(w);
    return w;
}

}  // namespace w32
