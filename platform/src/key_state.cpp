// The owner thread's key state (GetKeyState, Get/SetKeyboardState), the character a key makes,
// and keybd_event: input from the keyboard reaches the focused control's widget as a key typed
// there would, and so takes the toolkit's key route.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cstring>

#include "layer.h"

namespace w32 {
namespace {

BYTE g_keys[256];  // as GetKeyboardState gives it: 0x80 down, 1 toggled

bool shift_down() { return (g_keys[VK_SHIFT] & 0x80) != 0; }

// A key of the keyboard as the toolkit reports it, for keybd_event.
QKeyEvent* toolkit_key(BYTE vk, bool up) {
    const bool shift = shift_down();
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

void deliver_key(BYTE vk, bool up) {
    g_keys[vk] = up ? (g_keys[vk] & 1) : static_cast<BYTE>((g_keys[vk] ^ 1) | 0x80);
    auto f = find_window(focus_window());
    if (!f || !f->widget) return;
    std::unique_ptr<QKeyEvent> ev(toolkit_key(vk, up));
    if (ev) QCoreApplication::sendEvent(f->widget, ev.get());
}

}  // namespace

char key_char(WPARAM vk) {
    if (vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE || vk == VK_SPACE)
        return static_cast<char>(vk);
    if (vk >= '0' && vk <= '9') return static_cast<char>(vk);
    if (vk >= 'A' && vk <= 'Z') return static_cast<char>(shift_down() ? vk : vk - 'A' + 'a');
    return 0;
}

void set_shift_state(bool down) { g_keys[VK_SHIFT] = down ? 0x80 : 0; }

}  // namespace w32

extern "C" {

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
