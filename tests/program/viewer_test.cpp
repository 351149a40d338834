// A viewer in another process that follows the data file while it is recorded, as a tail tool or
// PowerShell's Get-Content -Wait does. Windows only: the layer checks share modes among the
// handles of one process, which the program tests cover.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/beside.h"
#include "tests/common/measure_harness.h"

namespace {

const char* const kData = "C:\\data\\test.dat";

// Starts the follower, holding `path` for `hold_ms` once it has it open.
bool StartFollower(const char* path, int hold_ms, PROCESS_INFORMATION* pi) {
    std::string args = std::string("\"") + path + "\" " + std::to_string(hold_ms);
    return beside::Start("file_follower", args, pi);
}

// The viewer holds the file for a second and a half of a 20 ms recording: every record arrives,
// in order, and nothing is reported.
TEST(Viewer, FollowingTheDataFileInAnotherProcessLosesNoRecord) {
    CreateDirectoryA("C:\\data", NULL);
    DeleteFileA(kData);
    std::string log;
    int count = 0;
    DWORD follower_exit = STILL_ACTIVE;
    measure::Run(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "20");
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 3));
            PROCESS_INFORMATION pi;
            ASSERT_TRUE(StartFollower(kData, 1500, &pi)) << "error " << GetLastError();
            follower_exit = beside::Finish(&pi);
            ASSERT_TRUE(measure::WaitForCount(dlg, measure::Count(dlg) + 3));
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            count = measure::Count(dlg);
            log = measure::Log(dlg);
        },
        60000);
    EXPECT_EQ(follower_exit, 0u) << "2: the follower could not open the file";
    EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
    std::string data;
    ASSERT_TRUE(measure::ReadFileText(kData, &data));
    std::vector<measure::Record> records = measure::Records(data);
    // The sample under way at the stop may be counted but not recorded.
    EXPECT_GE(records.size() + 1, (size_t)count);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].number != std::to_string(i + 1)) {
            ADD_FAILURE() << "record " << i + 1 << " is numbered " << records[i].number;
            break;
        }
    DeleteFileA(kData);
}

}  // namespace
