// Multi-byte characters at the limits the program reads fields with: the 99-byte file name and
// the 4999-byte memo never end in half a character. (UTF-8 is the layer's 8-bit text.)
#include <gtest/gtest.h>

#include <string>

#include "tests/common/measure_harness.h"

namespace {

const std::string kWide = "\xE6\xB8\xAC";  // one character, three bytes

TEST(Utf8Input, ACharacterCutByTheReadIsLeftOutWhole) {
    struct Row {
        std::string name, base;
    };
    const Row rows[] = {
        {std::string(96, 'n') + kWide, std::string(96, 'n') + kWide},  // ends at byte 99: whole
        {std::string(97, 'n') + kWide, std::string(97, 'n')},  // would need byte 100: left out
        {std::string(98, 'n') + kWide, std::string(98, 'n')},
    };
    CreateDirectoryA("C:\\data", NULL);
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        SetDlgItemTextA(dlg, IDC_MEMO, std::string(4998, 'm').append(kWide).c_str());
        for (const Row& row : rows) {
            const std::string data = "C:\\data\\" + row.base + ".dat";
            const std::string memo = "C:\\data\\" + row.base + ".txt";
            SetDlgItemTextA(dlg, IDC_FILENAME, row.name.c_str());
            SetDlgItemTextA(dlg, IDC_COUNT, "");  // the count of the previous run
            SetDlgItemTextA(dlg, IDC_LOG, "");
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 2));  // the first sample is written whole
            measure::Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            EXPECT_TRUE(measure::FileExists(data.c_str())) << data;
            std::string saved;
            EXPECT_TRUE(measure::ReadFileText(memo.c_str(), &saved));
            // The memo's last character would end at byte 5001: the 4998 bytes before it stay.
            EXPECT_EQ(saved, std::string(4998, 'm'));
            EXPECT_NE(measure::Log(dlg).find("Memo too long: 4998 of 5001 bytes saved in " + memo),
                      std::string::npos);
            DeleteFileA(data.c_str());
            DeleteFileA(memo.c_str());
        }
    });
}

}  // namespace
