// Private header of the window manager's part: what its files (messages, windows, dialogs,
// controls, keyboard, painting, timers) offer each other. It uses the kernel's objects and
// gdi's device contexts through their interface headers.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/objects.h"

class QObject;
class QWidget;
class QFont;
class QImage;
class QRect;

namespace w32 {

// ---- message.cpp: the owner thread and cross-thread sends ----

// Creates the QApplication on the calling thread if there is none; that thread then owns every
// window. Safe to call repeatedly.
void ensure_app();
// True on the thread that owns the windows.
bool on_owner_thread();
// Runs every queued cross-thread send on the owner thread; true if it ran any.
bool serve_sends();
// The owner's event loop has woken up; until it is about to sleep again, a cross-thread send
// queued for it needs no wake-up of its own.
void owner_woke();
// Owner thread: serves the sends queued; true if it has answered one since it woke.
bool answered_since_woken();
// The owner's event loop is about to sleep: serves the sends queued meanwhile, then lets the next
// one wake it.
void owner_about_to_sleep();
// True if a cross-thread send is waiting for the owner. Caller holds sync_mutex().
bool sends_pending_locked();
// Runs `fn` on the owner thread and returns its result: at once on the owner thread (or when no
// owner exists yet), else queued like a cross-thread send to `target` (may be NULL) and waited
// for. If `target` is destroyed before the owner gets to it, the call returns 0.
LRESULT run_on_owner(HWND target, const std::function<LRESULT()>& fn);
// Runs `fn` later on the owner thread, from its event loop, without waiting for it (what a
// queued QMetaObject::invokeMethod does). The function is handed over under sync_mutex(), which
// a race detector can see, unlike the lock inside Qt's event queue. Nothing before the
// QApplication exists.
void post_task(std::function<void()> fn);
// Posts `m` ahead of everything else posted: the character made of a key is read next, before
// keys typed after it.
void post_first(const MSG& m);
// Ends every send still queued for `hwnd` with the result 0 (the window is being destroyed).
void release_sends_to(HWND hwnd);

// ---- session.cpp: the end of a session ----

// Makes SIGTERM, SIGHUP and SIGINT end the session: every top-level window gets
// WM_QUERYENDSESSION and WM_ENDSESSION on the owner thread, wherever it serves cross-thread
// sends, then the process exits with code 0.
// Called on the owner thread once the QApplication exists; later calls do nothing.
void watch_session_signals();

// ---- window.cpp: the window tree ----

struct Window : Object {
    HWND hwnd{};
    std::string class_name;  // "#32770" for dialogs, "Edit", "Button", "Static", or registered
    WNDPROC proc{};          // what SendMessageA calls on the owner thread
    DLGPROC dlgproc{};       // dialogs only: the program's dialog procedure
    HWND parent{};
    std::vector<HWND> children;
    int id = 0;
    DWORD style = 0;
    DWORD ex_style = 0;
    HINSTANCE instance{};
    LONG_PTR user_data = 0;
    std::string text;          // window text (controls keep their own model where they need one)
    QWidget* widget = nullptr; // the Qt view; created, used and deleted on the owner thread only
    bool destroyed = false;
    int def_id = 0;  // dialogs only: the default push button's id (DM_SETDEFID), 0 for none
};

// Enters a new window into the handle table and its parent's child list; sets w->hwnd. nullptr,
// with the error set, when no handle value is free: the caller then discards the window.
HWND add_window(const std::shared_ptr<Window>& w);
// Fills in what every window is made with, before it is entered with add_window.
void init_window(Window& w, const char* cls, WNDPROC proc, HWND parent, int id, DWORD style,
                 DWORD ex_style, const std::string& text);
std::shared_ptr<Window> find_window(HWND hwnd);
// The live children of a window, in the order they were made (a dialog's: the template's).
std::vector<std::shared_ptr<Window>> child_windows(HWND parent);
// The dialog that `h` belongs to (itself if it is one), or NULL.
HWND dialog_of(HWND h);
// Calls the window's procedure on the current (owner) thread.
LRESULT call_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);


// The extended style a window is made with: Win32 sets WS_EX_WINDOWEDGE on a window with a
// dialog or sizing frame (unless it has WS_EX_STATICEDGE) and clears it on any other.
DWORD edge_ex_style(DWORD style, DWORD ex_style);

// The thickness of a window's non-client frame in pixels (WS_BORDER 1, WS_DLGFRAME 3, ...);
// 0 for a top-level window, whose Qt widget is its client area.
int frame_width(const Window& w);

// ---- controls/button.cpp, controls/static.cpp: the "Button" and "Static" controls ----
// Made like create_edit.

std::shared_ptr<Window> create_button(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                      DWORD ex_style, const std::string& text, const QRect& rect,
                                      const QFont& font);
std::shared_ptr<Window> create_static(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                      DWORD ex_style, const std::string& text, const QRect& rect,
                                      const QFont& font);

// ---- font.cpp: the dialog's font ----

// The dialog font's Qt face: the template's face name mapped to an installed face
// ("ＭＳ 明朝" to a Mincho face such as IPAMincho), at the template's point size.
QFont dialog_font(const std::string& face, int point_size);

// ---- window_class.cpp: registered window classes ----

// The procedure of the registered class `name` (any letter case), and its name as registered;
// false if no such class is registered.
bool find_class(const std::string& name, std::string* registered_name, WNDPROC* proc);

// ---- How an invalidation reaches the screen ----
//
// InvalidateRect (paint_window.cpp, any thread) adds to a class window's update region. While the
// frame clock runs (frame_clock.cpp), its next tick passes the new regions to Qt
// (collect_invalid_regions); when it does not, post_task (message.cpp) wakes the owner thread to
// pass them. Qt then asks the top-level window to repaint, which the frame clock lets through at
// most once a frame; the paint event calls the window procedure with WM_PAINT, and BeginPaint gives
// it a DC over the event's painter, clipped to the region. Controls paint themselves; a view whose
// text changes many times a frame shows it once, as the frame begins (before_next_frame, from
// controls/edit_view.cpp).

// ---- paint_window.cpp: windows of registered classes and their painting ----

// A window of the registered class `class_name` (case-insensitive), entered into the window
// tree, before WM_CREATE; nullptr, with the error set, if no such class is registered or no
// handle is free. Owner thread only.
std::shared_ptr<Window> create_class_window(const std::string& class_name, HWND parent,
                                            QWidget* parent_widget, int id, DWORD style,
                                            DWORD ex_style, const std::string& text,
                                            const QRect& rect, HINSTANCE instance);

// Guards the update regions of class windows, which any thread may invalidate, and the frame
// clock's running state.
std::mutex& paint_mutex();
// Owner thread: passes to Qt the update regions invalidated since they were last passed; true if
// there were any.
bool collect_invalid_regions();
// True if a class window has been invalidated since its region was last passed to Qt. Caller
// holds paint_mutex().
bool has_invalid_regions_locked();
// What the client area of a class window shows: the pixels its paints left in the toolkit's
// backing store. False for other windows, or where the toolkit keeps no image. Any thread.
bool read_client_image(HWND hwnd, QImage* out);

// ---- frame_clock.cpp: when changes reach the screen ----

// Owner thread, once: holds the toolkit's repaints of top-level windows to one per frame.
void install_frame_clock();
// Owner thread: runs `fn` as the next frame begins, unless `context` is gone by then. A view
// whose model changes many times a frame is brought up to date once, for the frame.
void before_next_frame(QObject* context, std::function<void()> fn);
// Owner thread: lets the top-level window's next repaint through at once, for UpdateWindow.
void paint_at_once(QWidget* window);
// True while the frame clock runs and so will collect invalidated regions at its next tick.
// Caller holds paint_mutex().
bool frame_clock_running_locked();
// Owner thread: a timer's callback has run; a frame now waits, for a moment, until the sends of
// the threads it woke have been served.
void frame_after_timer_callback();
// Owner thread: nanoseconds until the next timer of the owner expires; -1 when none runs.
long long ns_to_next_timer();
// Owner thread: cross-thread sends have been served; a frame that waited for them may be shown.
void frame_after_sends();

// ---- dialog_keys.cpp: the dialog manager's keyboard interface ----

// The dialog manager's part of the modal loop, as IsDialogMessage: handles a posted key meant
// for a dialog or one of its controls (Tab, arrows, Enter, Esc), or dispatches it and makes the
// character of a key; true if it took the message, false to dispatch it as any other.
bool dialog_message(const MSG& msg);
// DefDlgProc's part for DM_GETDEFID, DM_SETDEFID and WM_NEXTDLGCTL: true if `msg` was one of
// them, with its result in *result.
bool dialog_manager_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
// Once the controls are made: the last BS_DEFPUSHBUTTON is the dialog's default, and the toolkit's
// keys and focus are routed through the dialog manager from now on.
void init_dialog_keys(HWND dlg);
// After WM_INITDIALOG asked for it: the focus goes to the first tab stop, as the keyboard
// gives it.
void set_initial_focus(HWND dlg);

// ---- focus.cpp: the keyboard focus (SetFocus, GetFocus) ----

// The control that GetFocus answers on the owner thread, or NULL.
HWND focus_window();
// A window being destroyed keeps no focus: its handle value may be handed out again.
void forget_focus(HWND hwnd);
// Owner thread, once: the layer's focus follows a click that moves the toolkit's focus.
void follow_toolkit_focus();

// ---- key_state.cpp: the key state (GetKeyState, Get/SetKeyboardState) and keybd_event ----

// The character of a key with the current Shift state, as TranslateMessage makes it; 0 for none.
char key_char(WPARAM vk);
// Records the Shift key as the toolkit reports it.
void set_shift_state(bool down);

// ---- key_route.cpp: keys typed in the toolkit's widgets ----

// Owner thread, once: the dialog's keys are taken from the toolkit's widgets and posted to the
// focused control as WM_KEYDOWN/WM_KEYUP; the keys a widget keeps wait their turn in the queue.
void install_key_route();
// Hands a kept key back to its widget when the message that holds its place is dispatched; true
// if `msg` was such a message.
bool replay_toolkit_key(const MSG& msg);

// ---- timer.cpp ----

// Stops every timer of a window that is being destroyed. Owner thread only.
void kill_window_timers(HWND hwnd);

// ---- controls/edit.cpp: the "Edit" control ----

// Makes an edit control, child of the window `parent`, with its Qt view placed at `rect`
// (pixels in the parent's client area) inside `parent_widget`. Enters it into the window tree
// (add_window) and returns it; nullptr if no handle is free. Owner thread only.
std::shared_ptr<Window> create_edit(HWND parent, QWidget* parent_widget, int id, DWORD style,
                                    DWORD ex_style, const std::string& text, const QRect& rect,
                                    const QFont& font);

// ---- accessible.cpp: the roles and names that screen readers get ----

// Presents the widget of a dialog window as a dialog named by its caption, as Win32 does.
void present_as_dialog(QWidget* widget);
// Names each edit control among the children of `parent` after its label: the nearest static
// before it in the window order (the template's), as Win32's accessibility layer does.
// Called once the controls are made, and again when a static's text changes. Owner thread.
void label_controls(HWND parent);

}  // namespace w32
