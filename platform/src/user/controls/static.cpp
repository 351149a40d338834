// The "Static" control (text labels) over a Qt label.
#include <QLabel>

#include "user_private.h"

namespace w32 {
namespace {

LRESULT CALLBACK static_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_GETDLGCODE) return DLGC_STATIC;
    LRESULT r = DefWindowProcA(hwnd, msg, wp, lp);
    if (msg == WM_SETTEXT) {
        auto w = find_window(hwnd);
        if (auto* l = w ? qobject_cast<QLabel*>(w->widget) : nullptr)
            l->setText(QString::fromStdString(w->text));
        if (w) label_controls(w->parent);  // the field this labels takes the new name
    }
    return r;
}

}  // namespace

std::shared_ptr<Window> create_static(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                      DWORD ex_style, const std::string& text, const QRect& rect,
                                      const QFont& font) {
    auto w = std::make_shared<Window>();
    init_window(*w, "Static", static_proc, parent, id, style, ex_style, text);
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
    if (!add_window(w)) {
        delete view;
        return nullptr;
    }
    return w;
}

}  // namespace w32
