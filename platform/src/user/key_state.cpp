// The owner thread's key state (GetKeyState, Get/SetKeyboardState), the character a key makes,
// and keybd_event: input from the keyboard reaches the focused control's widget as a key typed
// there would, and so takes the toolkit's key route.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cstring>

#include "user_private.h"

namespace w32 {
namespace {

BYTE g_keys[256];  // as GetKeyboardState gives it: 0x80 down, 1 toggled

bool shift_down() { return (g_keys[VK_SHIFT] & 0x80) != 0; }

// The keys the toolkit names otherwise than by their character, or that have none.
const struct {
    BYTE vk;
    Qt::Key key;
} kNamedKeys[] = {{VK_TAB, Qt::Key_Tab},        {VK_RETURN, Qt::Key_Return},
                  {VK_ESCAPE, Qt::Key_Escape},  {VK_SPACE, Qt::Key_Space},
                  {VK_BACK, Qt::Key_Backspace}, {VK_SHIFT, Qt::Key_Shift},
                  {VK_LEFT, Qt::Key_Left},      {VK_RIGHT, Qt::Key_Right},
                  {VK_UP, Qt::Key_Up},          {VK_DOWN, Qt::Key_Down}};

// A key of the keyboard as the toolkit reports it, for keybd_event.
std::unique_ptr<QKeyEvent> toolkit_key(BYTE vk, bool up) {
    const bool shift = shift_down();
    const char c = key_char(vk);
    int key = c ? vk : 0;  // Qt's keys for digits and letters are their upper-case codes
    for (const auto& k : kNamedKeys)
        if (k.vk == vk) key = k.key;
    if (vk == VK_TAB && shift) key = Qt::Key_Backtab;
    if (!key) return nullptr;
    return std::make_unique<QKeyEvent>(up ? QEvent::KeyRelease : QEvent::KeyPress, key,
                                       shift ? Qt::ShiftModifier : Qt::NoModifier,
                                       c ? QString(QLatin1Char(c)) : QString());
}

void deliver_key(BYTE vk, bool up) {
    g_keys[vk] = up ? (g_keys[vk] & 1) : static_cast<BYTE>((g_keys[vk] ^ 1) | 0x80);
    auto f = find_window(focus_window());
    if (!f || !f->widget) return;
    if (auto ev = toolkit_key(vk, up)) QCoreApplication::sendEvent(f->widget, ev.get());
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
