// Two copies of the program at once, each a process of its own, as a second window started by
// mistake makes them: a copy never writes a file that the other records, and says so.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/beside.h"
#include "tests/common/measure_harness.h"

namespace {

const char* const kFlag = "C:\\data\\second-copy.flag";
const char* const kFirstMemo = "memo of the first copy";
const char* const kSecondMemo = "memo of the second copy";

std::string InData(const std::string& name) { return "C:\\data\\" + name; }

bool StartSecondCopy(const char* name, PROCESS_INFORMATION* pi) {
    std::string args = std::string(name) + " \"" + kSecondMemo + "\" " + kFlag;
    return beside::Start("second_copy", args, pi);
}

// Waits until the second copy records (it has written its flag file).
bool SecondCopyRecords() {
    return harness::WaitFor([] { return measure::FileExists(kFlag); }, 30000);
}

// The data file holds one header and records numbered 1, 2, 3, ... in order, at least `least`.
void ExpectOneWholeRecording(const std::string& path, size_t least) {
    std::string data;
    ASSERT_TRUE(measure::ReadFileText(path.c_str(), &data)) << path;
    EXPECT_EQ(0u, data.find(measure::kDataHeader)) << path;
    EXPECT_EQ(std::string::npos, data.find(measure::kDataHeader, 1)) << "a second header";
    std::vector<measure::Record> records = measure::Records(data);
    EXPECT_GE(records.size(), least) << path;
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].number != std::to_string(i + 1)) {
            ADD_FAILURE() << path << ": record " << i + 1 << " is numbered " << records[i].number;
            break;
        }
}

std::string Text(const std::string& path) {
    std::string text;
    return measure::ReadFileText(path.c_str(), &text) ? text : "<no file>";
}

// This copy records "two"; a second copy records while it does, and stops after it.
TEST(Copies, TwoCopiesRecording) {
    const struct {
        const char* what;
        const char* second;  // the second copy's name
        bool killed_before;  // the second copy is killed while it records, before this one starts
    } rows[] = {
        // The second copy writes neither file of the name, not even once this one has stopped.
        {"one name", "two", false},
        {"two names", "three", false},
        // The claim of a killed copy ends with it.
        {"a killed copy's name", "two", true},
    };
    CreateDirectoryA("C:\\data", NULL);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string second = row.second;
        for (const char* name : {"two.dat", "two.txt", "three.dat", "three.txt"})
            DeleteFileA(InData(name).c_str());
        DeleteFileA(kFlag);
        PROCESS_INFORMATION pi;
        if (row.killed_before) {
            ASSERT_TRUE(StartSecondCopy(row.second, &pi)) << "error " << GetLastError();
            ASSERT_TRUE(SecondCopyRecords());
            TerminateProcess(pi.hProcess, 9);
            beside::Finish(&pi);
            DeleteFileA(kFlag);
        }
        std::string log, second_log;
        int count = 0;
        DWORD second_exit = STILL_ACTIVE;
        measure::Run(
            [&](HWND dlg) {
                SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
                SetDlgItemTextA(dlg, IDC_FILENAME, "two");
                SetDlgItemTextA(dlg, IDC_MEMO, kFirstMemo);
                measure::Press(dlg, IDC_RECORD);
                ASSERT_TRUE(measure::WaitForCount(dlg, 3));
                const bool with_second = !row.killed_before;
                if (with_second) {
                    ASSERT_TRUE(StartSecondCopy(row.second, &pi)) << "error " << GetLastError();
                    ASSERT_TRUE(SecondCopyRecords());
                }
                ASSERT_TRUE(measure::WaitForCount(dlg, measure::Count(dlg) + 3));
                measure::Press(dlg, IDC_RECORD);
                ASSERT_TRUE(measure::WaitForWorkerIdle());
                count = measure::Count(dlg);
                log = measure::Log(dlg);
                if (with_second) {
                    DeleteFileA(kFlag);  // the second copy stops now
                    second_exit = beside::Finish(&pi);
                    second_log = Text(kFlag);
                }
            },
            60000);
        EXPECT_EQ("Start save!\r\nSave data as C:\\data\\two.dat\r\nStop save!\r\n", log);
        // The record under way at the stop may be counted and not written.
        ExpectOneWholeRecording(InData("two.dat"), (size_t)count - 1);
        EXPECT_EQ(kFirstMemo, Text(InData("two.txt")));
        if (row.killed_before) continue;
        EXPECT_EQ(0u, second_exit);
        if (second == "two") {
            const std::string start =
                "Start save!\r\nSave data as C:\\data\\two.dat\r\n"
                "Error: cannot create C:\\data\\two.dat (recorded by "
                "another window)\r\nStop save!\r\n"
                "Writing C:\\data\\two.dat stopped: ";
            const std::string end =
                " records lost\r\nError: cannot write memo C:\\data\\two.txt "
                "(recorded by another window)\r\n";
            EXPECT_EQ(start, second_log.substr(0, start.size()));
            EXPECT_LT(start.size() + end.size(), second_log.size()) << second_log;
            if (second_log.size() > end.size())
                EXPECT_EQ(end, second_log.substr(second_log.size() - end.size()));
        } else {
            EXPECT_EQ("Start save!\r\nSave data as C:\\data\\" + second + ".dat\r\nStop save!\r\n",
                      second_log);
            ExpectOneWholeRecording(InData(second + ".dat"), 6);
            EXPECT_EQ(kSecondMemo, Text(InData(second + ".txt")));
        }
    }
    for (const char* name : {"two.dat", "two.txt", "three.dat", "three.txt"})
        DeleteFileA(InData(name).c_str());
    DeleteFileA(kFlag);
}

}  // namespace
