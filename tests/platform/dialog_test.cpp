// Dialogs built from template 1000: layout in dialog units, styles, captions, and the ways a
// dialog is ended.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "dialog_harness.h"
#include "resource.h"

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
    int x, y, cx, cy;  // dialog units, as in the template
    bool edit;
    bool read_only;
};

const Layout kLayout[] = {
    {IDC_DISPLAY, 366, 24, 69, 30, false, false},
    {IDC_RECORD, 369, 201, 69, 30, false, false},
    {IDC_INTERVAL_LABEL, 378, 69, 48, 9, false, false},
    {IDC_INTERVAL, 369, 84, 63, 15, true, false},
    {IDC_INTERVAL_UNIT, 439, 87, 15, 9, false, false},
    {IDC_COUNT_LABEL, 382, 113, 39, 8, false, false},
    {IDC_COUNT, 369, 126, 63, 15, true, true},
    {IDC_ELAPSED_LABEL, 384, 156, 39, 9, false, false},
    {IDC_ELAPSED_UNIT, 442, 174, 9, 9, false, false},
    {IDC_ELAPSED, 370, 171, 66, 15, true, true},
    {IDC_FILENAME_LABEL, 375, 246, 60, 9, false, false},
    {IDC_FILENAME_EXT, 444, 264, 19, 9, false, false},
    {IDC_FILENAME, 372, 261, 66, 15, true, false},
    {IDC_MEMO, 246, 320, 231, 75, true, false},
    {IDC_LOG, 0, 321, 243, 75, true, false},
    {IDC_LOG_LABEL, 3, 309, 93, 9, false, false},
    {IDC_MEMO_LABEL, 249, 308, 33, 12, false, false},
};

TEST(Dialog, ControlsSitWhereTheTemplatePutsThem) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
            for (const Layout& c : kLayout) {
                SCOPED_TRACE(c.id);
                HWND item = GetDlgItem(dlg, c.id);
                ASSERT_NE(item, nullptr);
                // Position and size map separately, as the dialog manager maps
                // them when it creates the control.
                RECT want = {c.x, c.y, c.cx, c.cy};
                ASSERT_TRUE(MapDialogRect(dlg, &want));
                RECT got;
                ASSERT_TRUE(GetWindowRect(item, &got));
                MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
                EXPECT_EQ(got.left, want.left);
                EXPECT_EQ(got.top, want.top);
                EXPECT_EQ(got.right - got.left, want.right);
                EXPECT_EQ(got.bottom - got.top, want.bottom);
            }
        });
}

TEST(Dialog, StylesReadBackAsTheTemplateGivesThem) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
            for (const Layout& c : kLayout) {
                SCOPED_TRACE(c.id);
                HWND item = GetDlgItem(dlg, c.id);
                ASSERT_NE(item, nullptr);
                DWORD style = static_cast<DWORD>(GetWindowLongA(item, GWL_STYLE));
                EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE))
                    << std::hex << style;
                EXPECT_EQ(style & WS_TABSTOP, 0u) << std::hex << style;
                EXPECT_EQ(GetWindowLongA(item, GWL_ID), c.id);
                EXPECT_EQ(GetDlgCtrlID(item), c.id);
                EXPECT_EQ(GetParent(item), dlg);
                if (c.edit) EXPECT_NE(style & WS_DLGFRAME, 0u) << std::hex << style;
                if (c.edit) EXPECT_EQ((style & ES_READONLY) != 0, c.read_only) << std::hex << style;
            }
#ifndef _WIN64
            // The dialog's instance is the module it was made with. (64-bit Windows answers the
            // 32-bit index with 0; the 64-bit build of these tests only stands in for 32-bit Wine.)
            EXPECT_EQ(GetWindowLongA(dlg, GWL_HINSTANCE),
                      static_cast<LONG>(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr))));
#endif
            EXPECT_NE(GetWindowLongA(GetDlgItem(dlg, IDC_MEMO), GWL_STYLE) & ES_MULTILINE, 0);
        });
}

TEST(Dialog, CaptionsReadBack) {
    harness::Drive(
        &g_dlg, [] { return RunTemplate(IDD_MEASURE, CancelProc); },
        [](HWND dlg) {
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
        });
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
