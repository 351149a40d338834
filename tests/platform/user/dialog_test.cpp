// Dialogs built from template 1000: layout in dialog units, styles, captions, and the ways a
// dialog is ended.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "res/resource.h"
#include "tests/common/dialog_harness.h"

namespace {

const INT_PTR kCancelled = 42;

HWND volatile g_dlg;
LPARAM g_init_param;
WPARAM g_command;
LPARAM g_command_from;

INT_PTR CALLBACK CancelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            g_init_param = lParam;
            g_dlg = hwnd;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(hwnd, kCancelled);
                return TRUE;
            }
            g_command = wParam;
            g_command_from = lParam;
            break;
    }
    return FALSE;
}

INT_PTR RunTemplate(int id, DLGPROC proc, LPARAM param = 0) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, proc, param);
}

struct Layout {
    int id;
    const char* class_name;
    DWORD style;     // as the control reads it back: the template's, with WS_CHILD | WS_VISIBLE
    DWORD ex_style;  // the dialog manager adds WS_EX_NOPARENTNOTIFY to every control it makes
    const char* caption;  // UTF-8
    int x, y, cx, cy;     // dialog units, as in the template
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kLabel = kChild | SS_NOTIFY;
const DWORD kField = kChild | ES_AUTOHSCROLL | WS_DLGFRAME;
const DWORD kMultiline = kChild | ES_MULTILINE | ES_WANTRETURN | ES_AUTOHSCROLL | ES_AUTOVSCROLL |
                         WS_HSCROLL | WS_VSCROLL | WS_DLGFRAME;
const DWORD kNoNotify = WS_EX_NOPARENTNOTIFY;
const DWORD kFramed = WS_EX_NOPARENTNOTIFY | WS_EX_WINDOWEDGE;  // what WS_DLGFRAME brings

// The measurement dialog's controls as both builds must create them from the compiled template.
const Layout kLayout[] = {
    // The later of two default push buttons is the default; the earlier one is made ordinary.
    {IDC_DISPLAY, "Button", kChild | BS_PUSHBUTTON, kNoNotify, "表示", 366, 24, 69, 30},
    {IDC_RECORD, "Button", kChild | BS_DEFPUSHBUTTON, kNoNotify, "記録", 369, 201, 69, 30},
    {IDC_INTERVAL_LABEL, "Static", kLabel | SS_CENTER, kNoNotify, "時間間隔", 378, 69, 48, 9},
    {IDC_INTERVAL, "Edit", kField | ES_RIGHT, kFramed, "", 369, 84, 63, 15},
    {IDC_INTERVAL_UNIT, "Static", kLabel | SS_LEFT, kNoNotify, "ms", 439, 87, 15, 9},
    {IDC_COUNT_LABEL, "Static", kLabel | SS_CENTER, kNoNotify, "回数", 382, 113, 39, 8},
    {IDC_COUNT, "Edit", kField | ES_RIGHT | ES_READONLY, kFramed, "", 369, 126, 63, 15},
    {IDC_ELAPSED_LABEL, "Static", kLabel | SS_LEFT, kNoNotify, "経過時間", 384, 156, 39, 9},
    {IDC_ELAPSED, "Edit", kField | ES_RIGHT | ES_READONLY, kFramed, "", 370, 171, 66, 15},
    {IDC_ELAPSED_UNIT, "Static", kLabel | SS_LEFT, kNoNotify, "s", 442, 174, 9, 9},
    {IDC_FILENAME_LABEL, "Static", kLabel | SS_CENTER, kNoNotify, "ファイル名", 375, 246, 60, 9},
    {IDC_FILENAME_EXT, "Static", kLabel | SS_LEFT, kNoNotify, ".***", 444, 264, 19, 9},
    {IDC_FILENAME, "Edit", kField | ES_RIGHT, kFramed, "", 372, 261, 66, 15},
    {IDC_MEMO, "Edit", kMultiline, kFramed, "", 246, 320, 231, 75},
    {IDC_LOG, "Edit", kMultiline, kFramed, "", 0, 321, 243, 75},
    {IDC_LOG_LABEL, "Static", kLabel | SS_CENTER, kNoNotify, "プログラムからの情報", 3, 309, 93, 9},
    {IDC_MEMO_LABEL, "Static", kLabel | SS_CENTER, kNoNotify, "メモ", 249, 308, 33, 12},
};

// A window's text in UTF-8, whatever the ANSI code page: Windows stores it as UTF-16.
std::string Utf8Text(HWND hwnd) {
#ifdef _WIN32
    wchar_t wide[256] = {0};
    GetWindowTextW(hwnd, wide, 256);
    char utf8[1024] = {0};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
#else
    char text[1024] = {0};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
#endif
}

// The control's place in the dialog is the template's, in dialog units: position and size map
// separately, as the dialog manager maps them when it creates the control.
void ExpectWhereTheTemplatePutsIt(HWND dlg, HWND item, int x, int y, int cx, int cy) {
    RECT want = {x, y, cx, cy};
    ASSERT_TRUE(MapDialogRect(dlg, &want));
    RECT got;
    ASSERT_TRUE(GetWindowRect(item, &got));
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right - got.left, want.right);
    EXPECT_EQ(got.bottom - got.top, want.bottom);
}

TEST(Dialog, ControlsSitWhereTheTemplatePutsThem) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
            for (const Layout& c : kLayout) {
                SCOPED_TRACE(c.id);
                HWND item = GetDlgItem(dlg, c.id);
                ASSERT_NE(item, nullptr);
                ExpectWhereTheTemplatePutsIt(dlg, item, c.x, c.y, c.cx, c.cy);
            }
        });
}

// One opening of the measurement dialog's template: every control has the template's class,
// styles, id and caption, and the dialog its own; captions read back whole characters.
TEST(Dialog, ControlsAndDialogReadBackTheTemplatesClassesStylesAndCaptions) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
            for (const Layout& c : kLayout) {
                SCOPED_TRACE(c.id);
                HWND item = GetDlgItem(dlg, c.id);
                ASSERT_NE(item, nullptr);
                char cls[64] = {0};
                EXPECT_EQ(GetClassNameA(item, cls, sizeof cls), int(std::strlen(c.class_name)));
                EXPECT_STREQ(cls, c.class_name);
                DWORD style = static_cast<DWORD>(GetWindowLongA(item, GWL_STYLE));
                EXPECT_EQ(style, c.style) << std::hex << style;
                EXPECT_EQ(DWORD(GetWindowLongA(item, GWL_EXSTYLE)), c.ex_style)
                    << std::hex << GetWindowLongA(item, GWL_EXSTYLE);
                EXPECT_EQ(Utf8Text(item), c.caption);
                EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE))
                    << std::hex << style;
                EXPECT_EQ(style & WS_TABSTOP, 0u) << std::hex << style;
                EXPECT_EQ(GetWindowLongA(item, GWL_ID), c.id);
                EXPECT_EQ(GetDlgCtrlID(item), c.id);
                EXPECT_EQ(GetParent(item), dlg);
            }
            // The dialog itself: the template's style, and its caption.
            DWORD style = static_cast<DWORD>(GetWindowLongA(dlg, GWL_STYLE));
            DWORD want = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
            EXPECT_EQ(style & want, want) << std::hex << style;
            EXPECT_EQ(Utf8Text(dlg), "測定用ダイアログ");
            char cls[64] = {0};
            GetClassNameA(dlg, cls, sizeof cls);
            EXPECT_STREQ(cls, "#32770");
            // A buffer too small for the whole name gets its start and a zero.
            char small[4] = {'x', 'x', 'x', 'x'};
            EXPECT_EQ(GetClassNameA(GetDlgItem(dlg, IDC_DISPLAY), small, 4), 3);
            EXPECT_STREQ(small, "But");
#ifndef _WIN64
            // The dialog's instance is the module it was made with. (64-bit Windows answers the
            // 32-bit index with 0; the 64-bit build of these tests only stands in for 32-bit Wine.)
            EXPECT_EQ(GetWindowLongA(dlg, GWL_HINSTANCE),
                      static_cast<LONG>(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr))));
#endif
            EXPECT_NE(GetWindowLongA(GetDlgItem(dlg, IDC_MEMO), GWL_STYLE) & ES_MULTILINE, 0);
            // ASCII captions read back the same on every code page.
            EXPECT_EQ(harness::FieldText(dlg, IDC_INTERVAL_UNIT), "ms");
            EXPECT_EQ(harness::FieldText(dlg, IDC_ELAPSED_UNIT), "s");
            EXPECT_EQ(harness::FieldText(dlg, IDC_FILENAME_EXT), ".***");
            EXPECT_EQ(harness::FieldText(dlg, IDC_INTERVAL), "");
            std::string display = harness::FieldText(dlg, IDC_DISPLAY);
            std::string title(64, '\0');
            title.resize(GetWindowTextA(dlg, &title[0], 64));
#ifdef _WIN32
            // An ANSI window's Japanese text is in the ANSI code page: Shift-JIS
            // when the program runs in a Japanese locale.
            if (GetACP() == 932) {
                EXPECT_EQ(display, "\x95\x5c\x8e\xa6");
                EXPECT_EQ(title,
                          "\x91\xaa\x92\xe8\x97\x70\x83\x5f\x83\x43\x83\x41"
                          "\x83\x8d\x83\x4f");
            }
#else
            // The stand-in's 8-bit text is UTF-8.
            EXPECT_EQ(display, "表示");
            EXPECT_EQ(title, "測定用ダイアログ");
            EXPECT_EQ(harness::FieldText(dlg, IDC_LOG_LABEL), "プログラムからの情報");
#endif
            // A buffer too small for the whole caption gets its start and a zero.
            char buf[2] = {'x', 'x'};
            EXPECT_EQ(GetDlgItemTextA(dlg, IDC_INTERVAL_UNIT, buf, 2), 1u);
            EXPECT_STREQ(buf, "m");
            // A caption keeps whole characters: one that does not fit is left out (an edit
            // cuts inside it). Its first Japanese character takes 2 bytes (932) or 3 (UTF-8).
            const size_t first = CharNextA(display.c_str()) - display.c_str();
            char wide[8];
            EXPECT_EQ(GetDlgItemTextA(dlg, IDC_DISPLAY, wide, 2), 0u);
            EXPECT_STREQ(wide, "");
            EXPECT_EQ(GetDlgItemTextA(dlg, IDC_DISPLAY, wide, 4), first);
            EXPECT_EQ(std::string(wide), display.substr(0, first));
        });
}

// Templates 2000 (DIALOG) and 2001 (DIALOGEX) of the test module hold the same statements; each
// statement's default styles are what the resource compiler writes for it.
const int kStatementTemplates[] = {2000, 2001};
const Layout kStatements[] = {
    {IDOK, "Button", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, kNoNotify, "OK", 10, 10, 50, 14},
    {IDCANCEL, "Button", kChild | WS_TABSTOP | BS_PUSHBUTTON, kNoNotify, "Cancel", 70, 10, 50, 14},
    {201, "Static", kChild | WS_GROUP | SS_LEFT, kNoNotify, "Left", 10, 30, 40, 8},
    {202, "Static", kChild | WS_GROUP | SS_CENTER, kNoNotify, "Centre", 60, 30, 40, 8},
    {203, "Static", kChild | WS_GROUP | SS_RIGHT, kNoNotify, "Right", 110, 30, 40, 8},
    // An edit control turns the statement's WS_BORDER into a client edge.
    {204, "Edit", kChild | WS_TABSTOP | ES_AUTOHSCROLL, kNoNotify | WS_EX_CLIENTEDGE, "", 10, 45,
     60, 12},
    {205, "Button", kChild | BS_GROUPBOX, kNoNotify, "Group", 10, 60, 100, 40},
    {206, "Button", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, kNoNotify, "Check", 15, 70, 60, 10},
    {207, "Static", kChild | WS_GROUP | SS_LEFT, kNoNotify | WS_EX_STATICEDGE, "Plain", 120, 60, 40,
     8},
};

TEST(Dialog, EveryStatementOfBothTemplateFormatsMakesItsControl) {
    for (int id : kStatementTemplates) {
        SCOPED_TRACE(id);
        harness::Drive(
            &g_dlg, [id] { return RunTemplate(id, CancelProc); },
            [](HWND dlg) {
                EXPECT_EQ(Utf8Text(dlg), "Statements");
                for (const Layout& c : kStatements) {
                    SCOPED_TRACE(c.id);
                    HWND item = GetDlgItem(dlg, c.id);
                    ASSERT_NE(item, nullptr);
                    char cls[64] = {0};
                    GetClassNameA(item, cls, sizeof cls);
                    EXPECT_STREQ(cls, c.class_name);
                    EXPECT_EQ(DWORD(GetWindowLongA(item, GWL_STYLE)), c.style)
                        << std::hex << GetWindowLongA(item, GWL_STYLE);
                    EXPECT_EQ(DWORD(GetWindowLongA(item, GWL_EXSTYLE)), c.ex_style)
                        << std::hex << GetWindowLongA(item, GWL_EXSTYLE);
                    EXPECT_EQ(Utf8Text(item), c.caption);
                    ExpectWhereTheTemplatePutsIt(dlg, item, c.x, c.y, c.cx, c.cy);
                }
            });
    }
}

struct Ending {
    const char* what;
    int target;  // 0: the dialog itself, else a control's id
    UINT msg;
    WPARAM wParam;
};

// Every way the user or a program can cancel the dialog ends in WM_COMMAND IDCANCEL, so the
// dialog procedure's EndDialog value comes back from DialogBoxParamA.
const Ending kEndings[] = {
    {"the cancel command itself", 0, WM_COMMAND, IDCANCEL},
    {"WM_CLOSE: the dialog manager turns it into IDCANCEL", 0, WM_CLOSE, 0},
    {"the close box: SC_CLOSE becomes WM_CLOSE", 0, WM_SYSCOMMAND, SC_CLOSE},
    {"Esc sent to the dialog", 0, WM_KEYDOWN, VK_ESCAPE},
    {"Esc sent to a button that has no use for it", IDC_DISPLAY, WM_KEYDOWN, VK_ESCAPE},
    {"Esc sent to a single-line field", IDC_INTERVAL, WM_KEYDOWN, VK_ESCAPE},
};

TEST(Dialog, EveryCancelEndsTheDialogWithItsEndDialogValue) {
    for (const Ending& e : kEndings) {
        SCOPED_TRACE(e.what);
        bool ended_by_message = false;
        INT_PTR r = harness::Drive(
            &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc, 0x1234); },
            [&](HWND dlg) {
                HWND target = e.target ? GetDlgItem(dlg, e.target) : dlg;
                ASSERT_TRUE(PostMessageA(target, e.msg, e.wParam, 0));
                ended_by_message = harness::WaitFor([dlg] { return !IsWindow(dlg); });
            });
        EXPECT_TRUE(ended_by_message);
        EXPECT_EQ(r, kCancelled);
        EXPECT_EQ(g_init_param, 0x1234);
    }
}

TEST(Dialog, ButtonClickTellsTheDialogWhichButton) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
            g_command = 0;
            HWND button = GetDlgItem(dlg, IDC_RECORD);
            SendMessageA(button, BM_CLICK, 0, 0);
            EXPECT_EQ(g_command, MAKEWPARAM(IDC_RECORD, BN_CLICKED));
            EXPECT_EQ(g_command_from, reinterpret_cast<LPARAM>(button));
        });
}

INT_PTR CALLBACK EndAtInitProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        EndDialog(hwnd, 7);
        return TRUE;
    }
    return FALSE;
}

TEST(Dialog, EndDialogDuringInitialisationEndsAtOnce) {
    EXPECT_EQ(RunTemplate(IDD_MEASURE, EndAtInitProc), 7);
}

TEST(Dialog, UnknownTemplateFails) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RunTemplate(4321, CancelProc), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
