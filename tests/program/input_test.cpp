// Bad input in the file-name and memo fields: each has one outcome, shown in the log and on disk.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/measure_harness.h"

using measure::Log;
using measure::Press;

namespace {

// What the log says from the start of a recording to the end of its memo.
std::string RecordingLog(const std::string& path, const std::string& create_error,
                         const std::string& lost, const std::string& memo_error) {
    return "Start save!\r\nSave data as " + path + "\r\n" + create_error + "Stop save!\r\n" + lost +
           memo_error;
}

// Runs one short recording per name; a name that would leave the data folder, write to a hidden
// stream or open a device is refused as an invalid name, and nothing is written for it.
TEST(Input, FileNamesEitherMakeAFileInTheDataFolderOrAreRefused) {
    struct Row {
        std::string typed;
        std::string base;  // the name the program reads: at most 99 characters
        bool refused;
    };
    const std::string n99(99, 'n');
    const Row rows[] = {
        {n99 + "overflow", n99, false},      // only the first 99 characters are read
        {"..\\..\\x", "..\\..\\x", true},    // would climb above the data folder
        {"a/../../x", "a/../../x", true},    // '/' separates as '\' does
        {"a:b", "a:b", true},                // a stream of file "a" on NTFS
        {"a<b", "a<b", true},                // a character no Windows name may hold
        {"CON", "CON", true},                // devices, with or without an extension,
        {"nul.txt", "nul.txt", true},        // in any case, with trailing blanks
        {"LPT9 ", "LPT9 ", true},
        {"CONSOLE", "CONSOLE", false},       // only the device names themselves are refused
        {"COM10", "COM10", false},
        {"trailing ", "trailing ", false},   // the blank is inside "trailing .dat"
    };
    CreateDirectoryA("C:\\data", NULL);
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        for (const Row& row : rows) {
            SCOPED_TRACE("typed \"" + row.typed + "\"");
            const std::string data = "C:\\data\\" + row.base + ".dat";
            const std::string memo = "C:\\data\\" + row.base + ".txt";
            SetDlgItemTextA(dlg, IDC_LOG, "");
            SetDlgItemTextA(dlg, IDC_FILENAME, row.typed.c_str());
            SetDlgItemTextA(dlg, IDC_COUNT, "");  // the count of the previous run
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 2));
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            const std::string invalid = " (invalid name)\r\n";
            // A refused name loses every record, which the stop counts: each sample's but the
            // one under way at the stop.
            auto expected = [&](int lost) {
                if (!row.refused) return RecordingLog(data, "", "", "");
                return RecordingLog(
                    data, "Error: cannot create " + data + invalid,
                    "Writing " + data + " stopped: " + std::to_string(lost) + " records lost\r\n",
                    "Error: cannot write memo " + memo + invalid);
            };
            const int count = measure::Count(dlg);
            const std::string log = Log(dlg);
            EXPECT_TRUE(log == expected(count) || log == expected(count - 1))
                << log << "(count " << count << ")";
            // (A device name "exists" on Windows whatever is done: the log above is the proof.)
            if (!row.refused) {
                EXPECT_TRUE(measure::FileExists(data.c_str()));
                EXPECT_TRUE(measure::FileExists(memo.c_str()));
            }
            DeleteFileA(data.c_str());
            DeleteFileA(memo.c_str());
        }
    });
    EXPECT_FALSE(measure::FileExists("C:\\x.dat"));
}

// The memo file holds the memo up to 4999 bytes; a longer memo is cut there, and the log says
// how much of it was saved.
TEST(Input, MemoIsSavedWholeOrItsCutIsReported) {
    std::string lines;
    for (int i = 0; i < 3000; ++i) lines += "memo line " + std::to_string(i) + "\r\n";
    const std::string wide = harness::JapaneseCharacter();
    struct Row {
        const char* what;
        std::string memo;
        size_t saved;
    };
    const Row rows[] = {
        {"empty", "", 0},                          // an empty memo file, no report
        {"4999 bytes", std::string(4999, 'm'), 4999},  // the most that fits, whole
        {"5000 bytes", std::string(5000, 'm'), 4999},  // one byte too many: cut and reported
        {"3000 lines", lines, 4999},
        // A character (code page 932 or UTF-8) that ends at byte 4999 stays; one across the cut
        // is left out whole.
        {"a character at the end", std::string(4999 - wide.size(), 'm') + wide, 4999},
        {"a character across the cut", std::string(4998, 'm') + wide, 4998},
    };
    const char* const kMemo = "C:\\data\\test.txt";
    CreateDirectoryA("C:\\data", NULL);
    measure::Run([&](HWND dlg) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            DeleteFileA(kMemo);
            SetDlgItemTextA(dlg, IDC_LOG, "");
            SetDlgItemTextA(dlg, IDC_MEMO, row.memo.c_str());
            Press(dlg, IDC_DISPLAY);
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            std::string saved;
            ASSERT_TRUE(measure::ReadFileText(kMemo, &saved));
            EXPECT_EQ(saved, row.memo.substr(0, row.saved));
            std::string report;
            if (row.saved < row.memo.size())
                report = "Memo too long: " + std::to_string(row.saved) + " of " +
                         std::to_string(row.memo.size()) + " bytes saved in " + kMemo + "\r\n";
            EXPECT_EQ(Log(dlg), "Start display!\r\nStop display!\r\n" + report);
        }
    });
}

}  // namespace
