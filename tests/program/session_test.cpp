// The end of a session (logout, shutdown): the process is ended as soon as the dialog has
// answered WM_ENDSESSION, so by then a running recording must be stopped and its memo saved.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/measure_harness.h"

namespace {

const char* const kData = "C:\\data\\test.dat";
const char* const kMemo = "C:\\data\\test.txt";

TEST(Session, EndingSessionStopsTheRecordingAndSavesTheMemoBeforeItReturns) {
    struct Row {
        WPARAM ending;  // WM_ENDSESSION's wParam: FALSE when the session goes on after all
        bool memo_at_return;
        bool still_counting;
    };
    const Row rows[] = {
        {TRUE, true, false},   // the end: stopped and saved before the message returns
        {FALSE, false, true},  // a cancelled end changes nothing
    };
    CreateDirectoryA("C:\\data", NULL);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ending ? "session ends" : "session goes on");
        DeleteFileA(kData);
        DeleteFileA(kMemo);
        LRESULT query = 0;
        bool memo_at_return = false, counting = false;
        std::string memo;
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            SetDlgItemTextA(dlg, IDC_MEMO, "bye");
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 3));
            query = SendMessageA(dlg, WM_QUERYENDSESSION, 0, 0);
            SendMessageA(dlg, WM_ENDSESSION, row.ending, 0);
            memo_at_return = measure::ReadFileText(kMemo, &memo);
            if (IsWindow(dlg)) {
                int n = measure::Count(dlg);
                counting = measure::WaitForCount(dlg, n + 2, 500);
            }
        });
        EXPECT_NE(query, 0) << "the dialog must not hold up the end of the session";
        EXPECT_EQ(memo_at_return, row.memo_at_return);
        if (row.memo_at_return) EXPECT_EQ(memo, "bye");
        EXPECT_EQ(counting, row.still_counting);
        std::string data;
        ASSERT_TRUE(measure::ReadFileText(kData, &data));
        EXPECT_EQ(data.rfind("Number\tTime(s)\tX_Data\tY_Data\r\n1\t", 0), 0u);
        EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
    }
}

}  // namespace
