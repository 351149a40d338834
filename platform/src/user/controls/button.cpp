// The "Button" control (push buttons) over a Qt push button.
#include <QPainter>
#include <QPushButton>

#include "user_private.h"

namespace w32 {
namespace {

// What a push button tells its parent when it is clicked, by the mouse or by BM_CLICK.
void notify_clicked(HWND hwnd) {
    auto w = find_window(hwnd);
    if (w && w->parent)
        SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
}

// A push button drawn as Win32 draws it: raised face, the heavy border of the default button,
// the dotted focus rectangle of the focused one, sunken while held down.
class ButtonView : public QPushButton {
public:
    ButtonView(HWND hwnd, const QString& text, QWidget* parent)
        : QPushButton(text, parent), hwnd_(hwnd) {}
    void set_hwnd(HWND hwnd) { hwnd_ = hwnd; }

protected:
    void paintEvent(QPaintEvent*) override {
        auto w = find_window(hwnd_);
        const bool is_default = w && (w->style & 0xF) == BS_DEFPUSHBUTTON;
        const QPalette& pal = palette();
        QPainter p(this);
        QRect r = rect();
        p.fillRect(r, pal.color(QPalette::Button));
        auto frame = [&p](const QRect& r, const QColor& top_left, const QColor& bottom_right) {
            p.setPen(top_left);
            p.drawLine(r.left(), r.bottom() - 1, r.left(), r.top());
            p.drawLine(r.left(), r.top(), r.right() - 1, r.top());
            p.setPen(bottom_right);
            p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
            p.drawLine(r.right(), r.bottom(), r.right(), r.top());
        };
        if (is_default) {
            p.setPen(Qt::black);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            r.adjust(1, 1, -1, -1);
        }
        if (isDown()) {
            p.setPen(pal.color(QPalette::Dark));
            p.drawRect(r.adjusted(0, 0, -1, -1));
        } else {
            frame(r, pal.color(QPalette::Light), Qt::black);
            frame(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Midlight), pal.color(QPalette::Dark));
        }
        QRect text = r.adjusted(2, 2, -2, -2);
        if (isDown()) text.translate(1, 1);
        p.setPen(pal.color(QPalette::ButtonText));
        p.setFont(font());
        p.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic, this->text());
        if (GetFocus() == hwnd_) {
            QPen dots(pal.color(QPalette::ButtonText));
            dots.setStyle(Qt::DotLine);
            p.setPen(dots);
            p.drawRect(r.adjusted(3, 3, -4, -4));
        }
    }

private:
    HWND hwnd_;
};

void set_down(HWND hwnd, bool down) {
    auto w = find_window(hwnd);
    if (auto* b = w ? qobject_cast<QPushButton*>(w->widget) : nullptr) b->setDown(down);
}

bool is_down(HWND hwnd) {
    auto w = find_window(hwnd);
    auto* b = w ? qobject_cast<QPushButton*>(w->widget) : nullptr;
    return b && b->isDown();
}

LRESULT CALLBACK button_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case BM_CLICK:
            notify_clicked(hwnd);
            return 0;
        case WM_GETDLGCODE: {
            auto w = find_window(hwnd);
            if (!w) return 0;
            return DLGC_BUTTON | ((w->style & 0xF) == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON
                                                                       : DLGC_UNDEFPUSHBUTTON);
        }
        case BM_SETSTYLE: {
            auto w = find_window(hwnd);
            if (!w) return 0;
            w->style = (w->style & ~0xFFFFu) | (static_cast<DWORD>(wp) & 0xFFFF);
            if (lp && w->widget) w->widget->update();
            return 0;
        }
        // Space presses the focused button: held down with the key, clicked when it comes up.
        case WM_KEYDOWN:
            if (wp == VK_SPACE) set_down(hwnd, true);
            return 0;
        case WM_KEYUP:
            if (wp == VK_SPACE && is_down(hwnd)) {
                set_down(hwnd, false);
                notify_clicked(hwnd);
            }
            return 0;
        case WM_KILLFOCUS:
            set_down(hwnd, false);
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
    auto* view = new ButtonView(nullptr, QString::fromStdString(text), parent_widget);
    view->setGeometry(rect);
    view->setFont(font);
    view->setAutoDefault(false);
    w->widget = view;
    HWND hwnd = add_window(w);
    if (!hwnd) {
        delete view;
        return nullptr;
    }
    view->set_hwnd(hwnd);
    QObject::connect(view, &QPushButton::clicked, view, [hwnd] { notify_clicked(hwnd); });
    return w;
}

}  // namespace w32
