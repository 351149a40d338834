// The measurement dialog driven from the keyboard: the keys go to the focused control as the
// system posts them, and the dialog manager in the modal loop decides what they do.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/measure_harness.h"

using measure::Log;

namespace {

HWND FocusOf(HWND dlg) {
    GUITHREADINFO info = {sizeof info};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dlg, NULL), &info))
        return NULL;
    return info.hwndFocus;
}

// One press of a key, on whichever control has the focus.
void PressKey(HWND dlg, WPARAM vk) {
    HWND focus = FocusOf(dlg);
    ASSERT_NE(focus, (HWND)NULL);
    PostMessageA(focus, WM_KEYDOWN, vk, 1);
    PostMessageA(focus, WM_KEYUP, vk, (LPARAM)0xC0000001u);
}

void Type(HWND dlg, const char* text) {
    for (HWND focus = FocusOf(dlg); *text; ++text)
        PostMessageA(focus, WM_CHAR, (unsigned char)*text, 1);
}

// The focus as the keyboard moves it (a Tab stop would bring it the same way).
void FocusField(HWND dlg, int id) {
    SendMessageA(dlg, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dlg, id), TRUE);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\data", NULL);
        measure::DeleteWhenFree("C:\\data\\keys.dat");
        measure::DeleteWhenFree("C:\\data\\keys.txt");
    }
    void TearDown() override {
        measure::DeleteWhenFree("C:\\data\\keys.dat");
        measure::DeleteWhenFree("C:\\data\\keys.txt");
    }
};

TEST_F(Keyboard, EnterInTheFileNameFieldStartsAndStopsARecording) {
    std::string log;
    measure::Run([&](HWND dlg) {
        FocusField(dlg, IDC_FILENAME);
        Type(dlg, "keys");
        ASSERT_TRUE(
            harness::WaitFor([&] { return harness::FieldText(dlg, IDC_FILENAME) == "keys"; }));
        // Both buttons are BS_DEFPUSHBUTTON in the template; the dialog's default is 記録.
        PressKey(dlg, VK_RETURN);
        ASSERT_TRUE(measure::LogContains(dlg, "keys.dat\r\n"));
        PressKey(dlg, VK_RETURN);
        ASSERT_TRUE(measure::LogContains(dlg, "Stop save!"));
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        EXPECT_EQ(FocusOf(dlg), GetDlgItem(dlg, IDC_FILENAME));
        log = Log(dlg);
    });
    EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\keys.dat\r\nStop save!\r\n");
    EXPECT_TRUE(measure::FileExists("C:\\data\\keys.dat"));
}

TEST_F(Keyboard, TabInTheIntervalFieldKeepsTheFocusAndTypingReplacesTheInterval) {
    std::string interval;
    HWND focus = NULL, field = NULL;
    measure::Run([&](HWND dlg) {
        field = GetDlgItem(dlg, IDC_INTERVAL);
        FocusField(dlg, IDC_INTERVAL);
        SendMessageA(field, EM_SETSEL, 3, 3);  // the caret after "100", nothing selected
        // No control has a tab stop: Tab comes back to the same field and selects its text.
        PressKey(dlg, VK_TAB);
        Type(dlg, "250");
        harness::WaitFor([&] {
            std::string s = harness::FieldText(dlg, IDC_INTERVAL);
            return s.size() >= 3 && s.compare(s.size() - 3, 3, "250") == 0;
        });
        interval = harness::FieldText(dlg, IDC_INTERVAL);
        focus = FocusOf(dlg);
    });
    EXPECT_EQ(interval, "250");
    EXPECT_EQ(focus, field);
}

TEST_F(Keyboard, EnterInTheMemoEndsALineAndEscEndsTheDialog) {
    std::string memo, log;
    bool ended = false;
    measure::Run([&](HWND dlg) {
        FocusField(dlg, IDC_MEMO);
        Type(dlg, "first");
        PressKey(dlg, VK_RETURN);
        // The line end is the character the loop makes of the key, queued behind anything
        // posted before it: let it arrive before typing on.
        harness::WaitFor([&] { return harness::FieldText(dlg, IDC_MEMO) == "first\r\n"; });
        Type(dlg, "second");
        harness::WaitFor([&] {
            return harness::FieldText(dlg, IDC_MEMO).find("second") != std::string::npos;
        });
        memo = harness::FieldText(dlg, IDC_MEMO);
        log = Log(dlg);
        PressKey(dlg, VK_ESCAPE);
        ended = harness::WaitFor([dlg] { return !IsWindow(dlg); });
    });
    EXPECT_EQ(memo, "first\r\nsecond");
    EXPECT_EQ(log, "");  // Enter in the memo pressed no button
    EXPECT_TRUE(ended);
}

}  // namespace
