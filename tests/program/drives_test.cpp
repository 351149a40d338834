// Named objects belong to one C: drive (MEASURE_DRIVE_C), as Wine's belong to one prefix: a copy
// of the program on another drive records a name that this copy records too, for the two are
// different files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/common/beside.h"
#include "tests/common/measure_harness.h"

namespace {

std::string Text(const std::string& unix_path) {
    std::string text;
    FILE* f = fopen(unix_path.c_str(), "rb");
    if (!f) return "<no file>";
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    fclose(f);
    return text;
}

TEST(Copies, OnTwoDrivesOneNameIsTwoFiles) {
    char other[] = "/tmp/measure-other-drive-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(other));
    const std::string other_data = std::string(other) + "/data";
    ASSERT_EQ(0, mkdir(other_data.c_str(), 0700));
    const std::string flag = other_data + "/second-copy.flag";
    // The second copy is started on the other drive, before this copy touches a file.
    const char* own = getenv("MEASURE_DRIVE_C");
    const std::string own_drive = own ? own : "";
    setenv("MEASURE_DRIVE_C", other, 1);
    PROCESS_INFORMATION pi;
    const bool started =
        beside::Start("second_copy", "two \"second memo\" C:\\data\\second-copy.flag", &pi);
    if (own)
        setenv("MEASURE_DRIVE_C", own_drive.c_str(), 1);
    else
        unsetenv("MEASURE_DRIVE_C");
    ASSERT_TRUE(started) << "error " << GetLastError();
    ASSERT_TRUE(harness::WaitFor([&] { return access(flag.c_str(), F_OK) == 0; }, 30000));

    std::string log;
    measure::Run(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            SetDlgItemTextA(dlg, IDC_FILENAME, "two");
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 3));
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            log = measure::Log(dlg);
        },
        60000);
    unlink(flag.c_str());  // the second copy stops now, and writes its log there
    EXPECT_EQ(0u, beside::Finish(&pi));
    const std::string recorded = "Start save!\r\nSave data as C:\\data\\two.dat\r\nStop save!\r\n";
    EXPECT_EQ(recorded, log);
    EXPECT_EQ(recorded, Text(flag));
    for (const char* name : {"two.dat", "two.txt", "second-copy.flag"})
        unlink((other_data + "/" + name).c_str());
    rmdir(other_data.c_str());
    rmdir(other);
    DeleteFileA("C:\\data\\two.dat");
    DeleteFileA("C:\\data\\two.txt");
}

}  // namespace
