// The dialog manager's keyboard interface inside DialogBoxParamA's modal loop: focus, Tab and
// arrows, Enter, Esc and Space, the default push button. Keys arrive as the system delivers
// them: WM_KEYDOWN and WM_KEYUP posted to the focused control; the modal loop translates them
// into characters.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

// Private messages of the test's dialog procedure, so that the driver thread can ask the
// dialog's thread about its focus (GetFocus answers per thread) and move it.
const UINT kQueryFocus = WM_APP;
const UINT kMouseFocus = WM_APP + 1;  // SetFocus, as a click gives it
const UINT kSync = WM_APP + 2;        // wParam: how many more times to re-post itself
const UINT kSetShift = WM_APP + 3;    // wParam: Shift down
const UINT kHold = WM_APP + 4;        // holds the dialog's thread until g_release is set

HWND volatile g_dlg;
HWND g_focus;
HWND g_init_wparam;
HWND g_focus_after_init;
std::atomic<bool> g_synced{false};
std::atomic<bool> g_may_end{false};
std::atomic<bool> g_drop_on_click{false};  // the next click removes what waits for the focus
HANDLE g_holding = CreateEventA(nullptr, FALSE, FALSE, nullptr);
HANDLE g_release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
std::mutex g_commands_mutex;   // the dialog's thread adds, the driver reads
std::vector<int> g_commands;  // ids of the button commands, and IDCANCEL

std::vector<int> Commands() {
    std::lock_guard<std::mutex> lock(g_commands_mutex);
    return g_commands;
}

void ClearCommands() {
    std::lock_guard<std::mutex> lock(g_commands_mutex);
    g_commands.clear();
}
DWORD g_add_style[256];       // added to a control's style at WM_INITDIALOG, by id - 100

INT_PTR CALLBACK KeysProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            for (int id = 100; id < 120; ++id) {
                HWND item = GetDlgItem(hwnd, id);
                if (item && g_add_style[id - 100])
                    SetWindowLongA(item, GWL_STYLE,
                                   GetWindowLongA(item, GWL_STYLE) | g_add_style[id - 100]);
            }
            g_init_wparam = reinterpret_cast<HWND>(wParam);
            g_dlg = hwnd;
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                std::lock_guard<std::mutex> lock(g_commands_mutex);
                g_commands.push_back(LOWORD(wParam));
            }
            if (HIWORD(wParam) == BN_CLICKED && g_drop_on_click.exchange(false)) {
                // Bounded: a pending WM_PAINT stays in the queue, whatever PM_REMOVE says.
                MSG m;
                for (int i = 0; i < 64 && PeekMessageA(&m, GetFocus(), 0, 0, PM_REMOVE); ++i) {
                }
            }
            if (LOWORD(wParam) == IDCANCEL && g_may_end) EndDialog(hwnd, IDCANCEL);
            return TRUE;
        case kHold:
            SetEvent(g_holding);
            WaitForSingleObject(g_release, 5000);
            return TRUE;
        case kQueryFocus:
            g_focus = GetFocus();
            return TRUE;
        case kMouseFocus:
            SetFocus(reinterpret_cast<HWND>(lParam));
            return TRUE;
        case kSync:
            if (wParam)
                PostMessageA(hwnd, kSync, wParam - 1, 0);
            else
                g_synced = true;
            return TRUE;
        case kSetShift: {
            BYTE keys[256];
            GetKeyboardState(keys);
            keys[VK_SHIFT] = wParam ? 0x80 : 0;
            SetKeyboardState(keys);
            return TRUE;
        }
    }
    return FALSE;
}

// Runs the measurement template with the given styles added, and `body` from a second thread.
void RunKeys(const std::function<void(HWND)>& body) {
    ClearCommands();
    g_may_end = false;
    harness::Drive(
        &g_dlg,
        [] {
            return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MEASURE),
                                   nullptr, KeysProc, 0);
        },
        [&](HWND dlg) {
            body(dlg);
            g_may_end = true;
        });
    for (DWORD& s : g_add_style) s = 0;
}

HWND Focus(HWND dlg) {
    g_focus = nullptr;
    SendMessageA(dlg, kQueryFocus, 0, 0);
    return g_focus;
}

int FocusId(HWND dlg) {
    HWND f = Focus(dlg);
    return f ? GetDlgCtrlID(f) : 0;
}

// Waits until the dialog's thread has handled everything posted so far, and what that posted
// in turn (the characters that the modal loop makes of a key).
void Settle(HWND dlg) {
    g_synced = false;
    PostMessageA(dlg, kSync, 2, 0);
    EXPECT_TRUE(harness::WaitFor([] { return g_synced.load(); }));
}

// One press of a key on the focused control.
void Press(HWND dlg, WPARAM vk) {
    HWND target = Focus(dlg);
    if (!target) target = dlg;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
    Settle(dlg);
}

// Keyboard focus, as the dialog manager gives it (Tab does the same).
void KeyboardFocus(HWND dlg, int id) {
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, id)), TRUE);
}

void MouseFocus(HWND dlg, int id) {
    SendMessageA(dlg, kMouseFocus, 0, reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

std::pair<DWORD, DWORD> Selection(HWND dlg, int id) {
    DWORD a = 0, b = 0;
    SendDlgItemMessageA(dlg, id, EM_GETSEL, reinterpret_cast<WPARAM>(&a),
                        reinterpret_cast<LPARAM>(&b));
    return {a, b};
}

DWORD ButtonKind(HWND dlg, int id) {
    return static_cast<DWORD>(GetWindowLongA(GetDlgItem(dlg, id), GWL_STYLE)) & 0xF;
}

TEST(DialogKeys, FocusStartsOnTheFirstControlAndEnterPressesTheLaterDefaultButton) {
    RunKeys([](HWND dlg) {
        // With no tab stop, the control offered for the focus is the first one, and gets it.
        EXPECT_EQ(g_init_wparam, GetDlgItem(dlg, IDC_DISPLAY));
        EXPECT_EQ(FocusId(dlg), IDC_DISPLAY);
        // Of two BS_DEFPUSHBUTTON controls the later is the dialog's default; the earlier
        // loses its style to it, and the focus given at start does not bring it back.
        EXPECT_EQ(SendMessageA(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDC_RECORD, DC_HASDEFID));
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_PUSHBUTTON));
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_DEFPUSHBUTTON));
        // So Enter presses the default button, not the focused one; a click's focus does not
        // move the default either.
        Press(dlg, VK_RETURN);
        EXPECT_EQ(Commands(), std::vector<int>{IDC_RECORD});
        MouseFocus(dlg, IDC_RECORD);
        MouseFocus(dlg, IDC_DISPLAY);
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_PUSHBUTTON));
        Press(dlg, VK_RETURN);
        EXPECT_EQ(Commands(), (std::vector<int>{IDC_RECORD, IDC_RECORD}));
    });
}

TEST(DialogKeys, ControlsTellTheDialogManagerWhichKeysTheyWant) {
    struct Row {
        int id;
        LRESULT code;
    };
    // Edits select on focus, want characters and arrows; a multi-line edit wants every key.
    const Row rows[] = {
        {IDC_DISPLAY, DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON},
        {IDC_RECORD, DLGC_BUTTON | DLGC_DEFPUSHBUTTON},
        {IDC_INTERVAL, DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS},
        {IDC_COUNT, DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS},
        {IDC_MEMO, DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_WANTALLKEYS},
        {IDC_INTERVAL_LABEL, DLGC_STATIC},
    };
    RunKeys([&](HWND dlg) {
        for (const Row& r : rows) {
            EXPECT_EQ(SendDlgItemMessageA(dlg, r.id, WM_GETDLGCODE, 0, 0), r.code) << r.id;
        }
    });
}

struct KeyRow {
    const char* what;
    int focus;  // control focused first, by the keyboard
    WPARAM vk;
    int command;             // BN_CLICKED id (or IDCANCEL) the dialog gets, 0 for none
    int focus_after;         // control holding the focus afterwards
    const char* memo_after;  // text of the memo afterwards (it starts as "ab")
};

const KeyRow kKeys[] = {
    {"Enter in a single-line edit presses the default button", IDC_FILENAME, VK_RETURN, IDC_RECORD,
     IDC_FILENAME, "ab"},
    {"... in a read-only one too", IDC_COUNT, VK_RETURN, IDC_RECORD, IDC_COUNT, "ab"},
    {"Enter on a push button presses that button", IDC_DISPLAY, VK_RETURN, IDC_DISPLAY, IDC_DISPLAY,
     "ab"},
    {"Space on a push button presses it", IDC_DISPLAY, VK_SPACE, IDC_DISPLAY, IDC_DISPLAY, "ab"},
    {"Space in an edit is a character, no command", IDC_FILENAME, VK_SPACE, 0, IDC_FILENAME, "ab"},
    {"Enter in the multi-line memo (ES_WANTRETURN) ends a line, over the text that the "
     "keyboard focus selected",
     IDC_MEMO, VK_RETURN, 0, IDC_MEMO, "\r\n"},
    {"Esc in a single-line edit cancels", IDC_INTERVAL, VK_ESCAPE, IDCANCEL, IDC_INTERVAL, "ab"},
    {"Esc on a button cancels", IDC_RECORD, VK_ESCAPE, IDCANCEL, IDC_RECORD, "ab"},
    {"Esc in the memo cancels", IDC_MEMO, VK_ESCAPE, IDCANCEL, IDC_MEMO, "ab"},
    {"Tab with no tab stop anywhere keeps the focus", IDC_INTERVAL, VK_TAB, 0, IDC_INTERVAL, "ab"},
    {"... on a button as well", IDC_RECORD, VK_TAB, 0, IDC_RECORD, "ab"},
    {"Tab in the memo stays in the memo, no tab inserted", IDC_MEMO, VK_TAB, 0, IDC_MEMO, "ab"},
    {"Arrows in an edit move its caret, not the focus", IDC_INTERVAL, VK_DOWN, 0, IDC_INTERVAL,
     "ab"},
    {"Enter on a label (arrows reach labels) presses the default button", IDC_INTERVAL_LABEL,
     VK_RETURN, IDC_RECORD, IDC_INTERVAL_LABEL, "ab"},
    {"Space on a label does nothing", IDC_INTERVAL_LABEL, VK_SPACE, 0, IDC_INTERVAL_LABEL, "ab"},
    {"Down on a label moves on, as on a button", IDC_INTERVAL_LABEL, VK_DOWN, 0, IDC_INTERVAL,
     "ab"},
    {"Down on a button moves to the next control of its group", IDC_DISPLAY, VK_DOWN, 0, IDC_RECORD,
     "ab"},
    {"Up on a button moves to the previous one, wrapping", IDC_DISPLAY, VK_UP, 0, IDC_LOG, "ab"},
};

TEST(DialogKeys, EachKeyDoesWhatTheDialogManagerDoesWithIt) {
    for (const KeyRow& k : kKeys) {
        SCOPED_TRACE(k.what);
        RunKeys([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_MEMO, "ab");
            KeyboardFocus(dlg, k.focus);
            ASSERT_EQ(FocusId(dlg), k.focus);
            ClearCommands();
            Press(dlg, k.vk);
            std::vector<int> want;
            if (k.command) want.push_back(k.command);
            EXPECT_EQ(Commands(), want);
            EXPECT_EQ(FocusId(dlg), k.focus_after);
            EXPECT_EQ(harness::FieldText(dlg, IDC_MEMO), k.memo_after);
        });
    }
}

TEST(DialogKeys, TabSelectsTheEditTextAndTypingReplacesIt) {
    RunKeys([](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "100");
        MouseFocus(dlg, IDC_INTERVAL);
        // The mouse leaves the selection alone ...
        EXPECT_EQ(Selection(dlg, IDC_INTERVAL), std::make_pair(DWORD(0), DWORD(0)));
        // ... the keyboard selects the whole text.
        Press(dlg, VK_TAB);
        EXPECT_EQ(FocusId(dlg), IDC_INTERVAL);
        EXPECT_EQ(Selection(dlg, IDC_INTERVAL), std::make_pair(DWORD(0), DWORD(3)));
        for (char c : std::string("250"))
            PostMessageA(GetDlgItem(dlg, IDC_INTERVAL), WM_CHAR, c, 1);
        Settle(dlg);
        EXPECT_EQ(harness::FieldText(dlg, IDC_INTERVAL), "250");
    });
}

TEST(DialogKeys, TabAndShiftTabFollowTheTabStopsAndWrap) {
    // Tab stops on 記録, the interval and the file name: Tab goes down the template's order
    // and wraps, Shift+Tab goes up; the edit that gets the focus has its text selected.
    g_add_style[IDC_RECORD - 100] = WS_TABSTOP;
    g_add_style[IDC_INTERVAL - 100] = WS_TABSTOP;
    g_add_style[IDC_FILENAME - 100] = WS_TABSTOP;
    RunKeys([](HWND dlg) {
        // The focus offered is chosen before WM_INITDIALOG added the tab stops; the focus
        // given after it goes to the first tab stop.
        EXPECT_EQ(g_init_wparam, GetDlgItem(dlg, IDC_DISPLAY));
        EXPECT_EQ(FocusId(dlg), IDC_RECORD);
        SetDlgItemTextA(dlg, IDC_FILENAME, "test");
        const struct {
            bool shift;
            int focus_after;
        } steps[] = {{false, IDC_INTERVAL},
                     {false, IDC_FILENAME},
                     {false, IDC_RECORD},
                     {true, IDC_FILENAME},
                     {true, IDC_INTERVAL}};
        for (const auto& s : steps) {
            SendMessageA(dlg, kSetShift, s.shift, 0);
            Press(dlg, VK_TAB);
            EXPECT_EQ(FocusId(dlg), s.focus_after) << (s.shift ? "Shift+Tab" : "Tab");
        }
        SendMessageA(dlg, kSetShift, 0, 0);
        EXPECT_EQ(Selection(dlg, IDC_FILENAME), std::make_pair(DWORD(0), DWORD(4)));
        HWND interval = GetDlgItem(dlg, IDC_INTERVAL);
        EXPECT_EQ(GetNextDlgTabItem(dlg, interval, FALSE), GetDlgItem(dlg, IDC_FILENAME));
        EXPECT_EQ(GetNextDlgTabItem(dlg, interval, TRUE), GetDlgItem(dlg, IDC_RECORD));
    });
}

TEST(DialogKeys, ArrowsStayInsideTheGroup) {
    // Groups start at 表示, at the interval label and at the count: the arrows cycle inside
    // the group of the focused control.
    g_add_style[IDC_DISPLAY - 100] = WS_GROUP;
    g_add_style[IDC_INTERVAL_LABEL - 100] = WS_GROUP;
    g_add_style[IDC_COUNT_LABEL - 100] = WS_GROUP;
    RunKeys([](HWND dlg) {
        HWND display = GetDlgItem(dlg, IDC_DISPLAY), record = GetDlgItem(dlg, IDC_RECORD);
        EXPECT_EQ(GetNextDlgGroupItem(dlg, display, FALSE), record);
        EXPECT_EQ(GetNextDlgGroupItem(dlg, record, FALSE), display);
        EXPECT_EQ(GetNextDlgGroupItem(dlg, display, TRUE), record);
        EXPECT_EQ(GetNextDlgGroupItem(dlg, GetDlgItem(dlg, IDC_INTERVAL_UNIT), FALSE),
                  GetDlgItem(dlg, IDC_INTERVAL_LABEL));
        KeyboardFocus(dlg, IDC_RECORD);
        Press(dlg, VK_RIGHT);
        EXPECT_EQ(FocusId(dlg), IDC_DISPLAY);
        Press(dlg, VK_LEFT);
        EXPECT_EQ(FocusId(dlg), IDC_RECORD);
    });
}

TEST(DialogKeys, TheDefaultBorderFollowsTheFocusBetweenPushButtons) {
    RunKeys([](HWND dlg) {
        // The focus on 記録: 表示 gives up its default look.
        KeyboardFocus(dlg, IDC_RECORD);
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_PUSHBUTTON));
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_DEFPUSHBUTTON));
        // On 表示: it takes the look, 記録 loses it, the dialog's default id stays.
        KeyboardFocus(dlg, IDC_DISPLAY);
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_DEFPUSHBUTTON));
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_PUSHBUTTON));
        EXPECT_EQ(SendDlgItemMessageA(dlg, IDC_DISPLAY, WM_GETDLGCODE, 0, 0),
                  DLGC_BUTTON | DLGC_DEFPUSHBUTTON);
        EXPECT_EQ(SendMessageA(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDC_RECORD, DC_HASDEFID));
        // Away from the buttons: the default button has the look back.
        KeyboardFocus(dlg, IDC_FILENAME);
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_PUSHBUTTON));
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_DEFPUSHBUTTON));
        Press(dlg, VK_RETURN);
        EXPECT_EQ(Commands(), std::vector<int>{IDC_RECORD});
    });
}

TEST(DialogKeys, SetDefIdChoosesWhatEnterPresses) {
    RunKeys([](HWND dlg) {
        EXPECT_TRUE(SendMessageA(dlg, DM_SETDEFID, IDC_DISPLAY, 0));
        EXPECT_EQ(SendMessageA(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDC_DISPLAY, DC_HASDEFID));
        EXPECT_EQ(ButtonKind(dlg, IDC_DISPLAY), DWORD(BS_DEFPUSHBUTTON));
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_PUSHBUTTON));
        KeyboardFocus(dlg, IDC_FILENAME);
        Press(dlg, VK_RETURN);
        EXPECT_EQ(Commands(), std::vector<int>{IDC_DISPLAY});
        // BM_SETSTYLE changes the look alone, not the dialog's default.
        SendDlgItemMessageA(dlg, IDC_RECORD, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        EXPECT_EQ(ButtonKind(dlg, IDC_RECORD), DWORD(BS_DEFPUSHBUTTON));
        EXPECT_EQ(SendMessageA(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDC_DISPLAY, DC_HASDEFID));
    });
}

void Stroke(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

bool FocusBecomes(HWND dlg, int id) {
    return harness::WaitFor([&] { return FocusId(dlg) == id; });
}

bool CommandsBecome(const std::vector<int>& want) {
    return harness::WaitFor([&] { return Commands() == want; });
}

bool FieldBecomes(HWND dlg, int id, const std::string& want) {
    return harness::WaitFor([&] { return harness::FieldText(dlg, id) == want; });
}

// The same keys from the keyboard itself: they reach the focused control by the system's input
// path (on the Linux build, through the toolkit's widgets), and the dialog manager still
// decides. Each step ends with an effect to wait for, so a key that did nothing shows up in
// the step after it.
TEST(DialogKeys, KeysFromTheKeyboardTakeTheDialogManagersPath) {
    RunKeys([](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "100");
        KeyboardFocus(dlg, IDC_INTERVAL);
        SendDlgItemMessageA(dlg, IDC_INTERVAL, EM_SETSEL, 3, 3);
        // Tab selects the interval again; the digits replace it.
        Stroke(VK_TAB);
        for (BYTE c : std::string("250")) Stroke(c);
        EXPECT_TRUE(FieldBecomes(dlg, IDC_INTERVAL, "250"))
            << harness::FieldText(dlg, IDC_INTERVAL);
        EXPECT_EQ(FocusId(dlg), IDC_INTERVAL);
        // Enter in a single-line field: the default button, once. The keys typed after it while
        // the dialog was busy, which the button's handler removes from the queue, never arrive;
        // the next key does.
        g_drop_on_click = true;
        PostMessageA(dlg, kHold, 0, 0);
        EXPECT_EQ(WaitForSingleObject(g_holding, 5000), WAIT_OBJECT_0);
        for (BYTE c : std::string("\r78")) Stroke(c);
        SetEvent(g_release);
        EXPECT_TRUE(CommandsBecome({IDC_RECORD}));
        Stroke('9');
        EXPECT_TRUE(FieldBecomes(dlg, IDC_INTERVAL, "2509"))
            << harness::FieldText(dlg, IDC_INTERVAL);
        // Enter in the memo: one line end, no command.
        KeyboardFocus(dlg, IDC_MEMO);
        Stroke(VK_RETURN);
        Stroke('X');
        EXPECT_TRUE(FieldBecomes(dlg, IDC_MEMO, "\r\nx")) << harness::FieldText(dlg, IDC_MEMO);
        // Shift+Tab in the memo: the focus stays, the memo's text is selected, nothing typed.
        keybd_event(VK_SHIFT, 0, 0, 0);
        Stroke(VK_TAB);
        keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
        Stroke('Y');
        EXPECT_TRUE(FieldBecomes(dlg, IDC_MEMO, "y")) << harness::FieldText(dlg, IDC_MEMO);
        // Space on a push button clicks it once; an arrow goes on to the next control, a label.
        KeyboardFocus(dlg, IDC_RECORD);
        Stroke(VK_SPACE);
        EXPECT_TRUE(CommandsBecome({IDC_RECORD, IDC_RECORD}));
        Stroke(VK_RIGHT);
        EXPECT_TRUE(FocusBecomes(dlg, IDC_INTERVAL_LABEL));
        Stroke(VK_ESCAPE);
        EXPECT_TRUE(CommandsBecome({IDC_RECORD, IDC_RECORD, IDCANCEL}));
        Settle(dlg);
        EXPECT_EQ(Commands(), (std::vector<int>{IDC_RECORD, IDC_RECORD, IDCANCEL}));
    });
}

}  // namespace
