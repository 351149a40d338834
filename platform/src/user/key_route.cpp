// Keys typed in the toolkit's widgets. The dialog's keys (Tab, Enter, Esc, and Space and the
// arrows outside an edit) are taken before the widget sees them and posted to the focused
// control as the system posts a key, so that they take the same path as the keys a program
// posts. A key that the widget keeps (typing in an edit) waits in the posted queue behind the
// keys routed before it, so that keys typed ahead arrive in the order they were typed.
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <deque>

#include "user_private.h"

namespace w32 {
namespace {

// The posted message that holds a kept key's place in the queue. It carries only the key's
// number: the key itself stays here, so a program that removes the message loses the key, as it
// would lose a WM_KEYDOWN, and nothing is owned by a message.
const UINT kToolkitKey = WM_USER - 1;

struct HeldKey {
    WPARAM number;
    QPointer<QWidget> widget;
    std::unique_ptr<QKeyEvent> event;
};

// Owner thread only, oldest first.
std::deque<HeldKey> g_held;
WPARAM g_last_number = 0;
bool g_replaying = false;  // a kept key is being handed back to its widget

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

class KeyRouter : public QObject {
protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        const bool press = ev->type() == QEvent::KeyPress;
        if (!press && ev->type() != QEvent::KeyRelease && ev->type() != QEvent::ShortcutOverride)
            return false;
        auto* widget = qobject_cast<QWidget*>(obj);
        HWND focus = focus_window();
        auto f = find_window(focus);
        auto d = find_window(dialog_of(focus));
        if (!widget || !f || !d || !d->widget || widget->window() != d->widget) return false;
        if (g_replaying) return false;
        auto* key = static_cast<QKeyEvent*>(ev);
        if (key->key() == Qt::Key_Shift && ev->type() != QEvent::ShortcutOverride)
            set_shift_state(press);
        const WPARAM vk = owned_key(*key, *f);
        if (!vk) {
            if (ev->type() == QEvent::ShortcutOverride) return false;
            g_held.push_back({++g_last_number, widget, std::unique_ptr<QKeyEvent>(key->clone())});
            PostMessageA(focus, kToolkitKey, g_last_number, 0);
            return true;
        }
        if (ev->type() == QEvent::ShortcutOverride) {
            key->accept();  // no shortcut takes it either: it comes back as a key press
            return true;
        }
        set_shift_state(key->modifiers() & Qt::ShiftModifier);
        if (press)
            PostMessageA(focus, WM_KEYDOWN, vk, key->isAutoRepeat() ? 0x40000001 : 1);
        else if (!key->isAutoRepeat())
            PostMessageA(focus, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
        return true;
    }
};

}  // namespace

void install_key_route() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QCoreApplication::instance()->installEventFilter(new KeyRouter);
}

bool replay_toolkit_key(const MSG& msg) {
    if (msg.message != kToolkitKey) return false;
    // Keys held before this one lost their messages to the program: they are dropped.
    while (!g_held.empty() && g_held.front().number < msg.wParam) g_held.pop_front();
    if (g_held.empty() || g_held.front().number != msg.wParam) return true;
    const HeldKey held = std::move(g_held.front());
    g_held.pop_front();
    if (held.widget) {
        g_replaying = true;
        QCoreApplication::sendEvent(held.widget, held.event.get());
        g_replaying = false;
    }
    return true;
}

}  // namespace w32
