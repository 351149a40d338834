// What a recording leaves on disk: the data file byte for byte, the memo file, and the log lines
// when a file cannot be written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/worker.h"
#include "tests/common/measure_harness.h"

using measure::Log;
using measure::Press;
using measure::ReadFileText;
using measure::Record;
using measure::Records;

namespace {

const char* const kData = "C:\\data\\test.dat";
const char* const kMemo = "C:\\data\\test.txt";
const char* const kHeader = measure::kDataHeader;

class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\data", NULL);
        DeleteFileA(kData);
        DeleteFileA(kMemo);
    }
    void TearDown() override { testSeamFirstSampleNumber = 1; }
};

// Opens the data file once the worker is between two lines (during a line it holds the file).
HANDLE OpenBetweenLines(DWORD access, DWORD share) {
    HANDLE h = INVALID_HANDLE_VALUE;
    harness::WaitFor([&] {
        h = CreateFileA(kData, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        return h != INVALID_HANDLE_VALUE;
    });
    return h;
}

TEST_F(Recording, DataFileHoldsHeaderAndOneRecordPerSample) {
    std::string data, memo;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        SetDlgItemTextA(dlg, IDC_MEMO, "123456789");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 101, 60000));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
    });
    ASSERT_TRUE(ReadFileText(kData, &data));
    EXPECT_EQ(data.substr(0, strlen(kHeader)), kHeader);
    std::vector<Record> records = Records(data);
    ASSERT_GE(records.size(), 100u);
    double previous = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].number, std::to_string(i + 1));
        double t = atof(records[i].time.c_str());
        EXPECT_GE(t, previous) << "record " << i + 1;
        previous = t;
    }
    EXPECT_LT(atof(records[0].time.c_str()), 0.01);
    // X and Y as "%f" prints the signal, at the samples where its shape shows.
    struct Row {
        int n;
        const char* x;
        const char* y;
    };
    const Row rows[] = {
        {1, "2.500000", "11.302293"},     {25, "62.500000", "180.000000"},
        {50, "125.000000", "0.000010"},   // the constant is a little below 2 pi
        {75, "187.500000", "-180.000000"}, {100, "250.000000", "-0.000019"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(records[row.n - 1].x, row.x) << "sample " << row.n;
        EXPECT_EQ(records[row.n - 1].y, row.y) << "sample " << row.n;
    }
    ASSERT_TRUE(ReadFileText(kMemo, &memo));
    EXPECT_EQ(memo, "123456789");
}

// Months of samples: a count started just below 2^31 and 2^32 runs on across each in the count
// field and the data file, without sign or wrap; the first sample's work (the header, the
// clock's start) is done once, and the file keeps every record.
TEST_F(Recording, SampleNumbersRunOnPastTwoToThe31stAnd32nd) {
    const ULONGLONG starts[] = {0x80000000ULL - 3, 0x100000000ULL - 3};
    for (ULONGLONG start : starts) {
        SCOPED_TRACE(start);
        DeleteFileA(kData);
        testSeamFirstSampleNumber = start;
        std::string log, count;
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            Press(dlg, IDC_RECORD);
            EXPECT_TRUE(harness::WaitFor([&] {
                count = harness::FieldText(dlg, IDC_COUNT);
                return count.size() == 10 && strtoull(count.c_str(), NULL, 10) >= start + 6;
            })) << count;
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            count = harness::FieldText(dlg, IDC_COUNT);
            log = Log(dlg);
        });
        EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
        std::string data;
        ASSERT_TRUE(ReadFileText(kData, &data));
        EXPECT_EQ(data.rfind(kHeader, 0), 0u);
        std::vector<Record> records = Records(data);
        ASSERT_GE(records.size(), 6u);
        double previous = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].number, std::to_string(start + i));
            double t = atof(records[i].time.c_str());
            EXPECT_GE(t, previous) << "record " << records[i].number;
            previous = t;
        }
        // The sample under way at the stop is counted but, its mode being 0 by then, not
        // recorded.
        const ULONGLONG last = start + records.size() - 1;
        EXPECT_TRUE(count == std::to_string(last) || count == std::to_string(last + 1)) << count;
    }
}

TEST_F(Recording, ExistingFileIsReplacedAtTheFirstSampleNotAtThePress) {
    HANDLE h = CreateFileA(kData, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(h, "old", 3, &written, NULL);
    CloseHandle(h);
    std::string before, after;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "1500");
        Press(dlg, IDC_RECORD);
        ReadFileText(kData, &before);
        ASSERT_TRUE(measure::WaitForCount(dlg, 1));
        ASSERT_TRUE(measure::LogContains(dlg, "test.dat\r\n"));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
    });
    EXPECT_EQ(before, "old");
    ASSERT_TRUE(ReadFileText(kData, &after));
    EXPECT_EQ(after.rfind(std::string(kHeader) + "1\t", 0), 0u) << after;
}

TEST_F(Recording, StopBeforeTheFirstTickWritesNoDataButTheMemo) {
    std::string log, memo;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "5000");
        SetDlgItemTextA(dlg, IDC_MEMO, "quick");
        Press(dlg, IDC_RECORD);
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_FALSE(measure::FileExists(kData));
    EXPECT_EQ(log, "Start save!\r\nStop save!\r\n");
    ASSERT_TRUE(ReadFileText(kMemo, &memo));
    EXPECT_EQ(memo, "quick");
}

// Names at the edges of the field: empty, and the 99 characters the field is read with, whose
// path and log line must come out whole.
TEST_F(Recording, EmptyAndLongestNamesMakeWholePaths) {
    const std::string longest(99, 'n');
    const std::string names[] = {"", longest};
    for (const std::string& name : names) {
        std::string path = "C:\\data\\" + name + ".dat";
        DeleteFileA(path.c_str());
        std::string log;
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_FILENAME, name.c_str());
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::LogContains(dlg, ".dat\r\n"));
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            log = Log(dlg);
        });
        EXPECT_EQ(log, "Start save!\r\nSave data as " + path + "\r\nStop save!\r\n");
        std::string data;
        EXPECT_TRUE(ReadFileText(path.c_str(), &data)) << path;
        EXPECT_EQ(data.rfind(kHeader, 0), 0u);
        DeleteFileA(path.c_str());
        DeleteFileA(("C:\\data\\" + name + ".txt").c_str());
    }
}

// A data file that cannot be created (its folder is missing) and a memo that cannot be saved are
// reported once each, naming the path and the reason; the acquisition runs on, and the stop
// counts the records lost: every sample's but the one under way at the stop.
TEST_F(Recording, MissingFolderIsReportedOnceAndTheAcquisitionGoesOn) {
    std::string log;
    int count = 0;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        SetDlgItemTextA(dlg, IDC_FILENAME, "nofolder\\run");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 5));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        count = measure::Count(dlg);
        log = Log(dlg);
    });
    const std::string head =
        "Start save!\r\n"
        "Save data as C:\\data\\nofolder\\run.dat\r\n"
        "Error: cannot create C:\\data\\nofolder\\run.dat (folder not found)\r\n"
        "Stop save!\r\n"
        "Writing C:\\data\\nofolder\\run.dat stopped: ";
    ASSERT_EQ(log.substr(0, head.size()), head);
    const int lost = atoi(log.c_str() + head.size());
    EXPECT_TRUE(lost == count || lost + 1 == count) << lost << " of " << count;
    EXPECT_EQ(log.substr(head.size()),
              std::to_string(lost) +
                  " records lost\r\n"
                  "Error: cannot write memo C:\\data\\nofolder\\run.txt (folder not found)\r\n");
}

// The records after the deletion are lost, as a user who deletes the file may intend; the stop
// counts them.
TEST_F(Recording, FileDeletedMidRecordingIsReportedOnceAndRecordingGoesOn) {
    std::string log;
    int count_after = 0, deleted_at = 0;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 2));
        ASSERT_TRUE(measure::DeleteWhenFree(kData));
        deleted_at = measure::Count(dlg);
        ASSERT_TRUE(measure::WaitForCount(dlg, deleted_at + 5));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        count_after = measure::Count(dlg);
        log = Log(dlg);
    });
    EXPECT_GT(count_after, 6);
    const std::string head =
        "Start save!\r\n"
        "Save data as C:\\data\\test.dat\r\n"
        "Error: cannot write C:\\data\\test.dat (file not found)\r\n"
        "Stop save!\r\n"
        "Writing C:\\data\\test.dat stopped: ";
    ASSERT_EQ(log.substr(0, head.size()), head);
    const int lost = atoi(log.c_str() + head.size());
    EXPECT_EQ(log.substr(head.size()), std::to_string(lost) + " records lost\r\n");
    // Every sample after the deletion but the one under way at the stop. Sample 1 was written
    // before count 2 was shown; sample 2, shown before it is written, may be the first lost.
    EXPECT_GE(lost + 1, count_after - deleted_at);
    EXPECT_LE(lost, count_after - 1);
    EXPECT_FALSE(measure::FileExists(kData));
}

// Another program that reads the file while it is recorded loses no record, and nothing is
// reported: one that lets it be written (a viewer following the file as it grows) for as long as
// it likes, one that does not (a copy) for a moment, which only delays a line.
TEST_F(Recording, FileHeldOpenByAnotherReaderLosesNoRecord) {
    struct Row {
        const char* reader;
        DWORD share;
        DWORD hold_ms;
    };
    const Row rows[] = {
        {"a viewer, for a second", FILE_SHARE_READ | FILE_SHARE_WRITE, 1000},
        {"a reader that denies writing, for a few intervals", FILE_SHARE_READ, 40},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reader);
        DeleteFileA(kData);
        std::string log;
        int count = 0;
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForCount(dlg, 3));
            HANDLE reader = OpenBetweenLines(GENERIC_READ, row.share);
            ASSERT_NE(reader, INVALID_HANDLE_VALUE);
            int held_at = measure::Count(dlg);
            Sleep(row.hold_ms);
            CloseHandle(reader);
            ASSERT_TRUE(measure::WaitForCount(dlg, held_at + 3));
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            count = measure::Count(dlg);
            log = Log(dlg);
        });
        EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
        std::string data;
        ASSERT_TRUE(ReadFileText(kData, &data));
        std::vector<Record> records = Records(data);
        // The sample under way at the stop is counted but, its mode being 0 by then, not
        // recorded.
        EXPECT_GE(records.size() + 1, (size_t)count);
        EXPECT_LE(records.size(), (size_t)count);
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i].number != std::to_string(i + 1)) {
                ADD_FAILURE() << "record " << i + 1 << " is numbered " << records[i].number;
                break;
            }
    }
}

// The data file keeps the name read at the first sample; the memo takes the name the field
// holds when the acquisition ends.
TEST_F(Recording, NameEditedDuringRecordingMovesOnlyTheMemo) {
    DeleteFileA("C:\\data\\first.dat");
    DeleteFileA("C:\\data\\first.txt");
    DeleteFileA("C:\\data\\second.dat");
    DeleteFileA("C:\\data\\second.txt");
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_FILENAME, "first");
        SetDlgItemTextA(dlg, IDC_MEMO, "renamed");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 2));
        SetDlgItemTextA(dlg, IDC_FILENAME, "second");
        int renamed_at = measure::Count(dlg);
        ASSERT_TRUE(measure::WaitForCount(dlg, renamed_at + 2));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
    });
    std::string data, memo;
    ASSERT_TRUE(ReadFileText("C:\\data\\first.dat", &data));
    EXPECT_GE(Records(data).size(), 3u);
    EXPECT_FALSE(measure::FileExists("C:\\data\\second.dat"));
    EXPECT_FALSE(measure::FileExists("C:\\data\\first.txt"));
    ASSERT_TRUE(ReadFileText("C:\\data\\second.txt", &memo));
    EXPECT_EQ(memo, "renamed");
}

// The memo is saved as typed: lines joined by CR LF with none added at the end, at most 4999
// bytes; a displaying acquisition saves it too, and writes no data file.
TEST_F(Recording, MemoIsSavedAsTypedByEveryAcquisition) {
    struct Row {
        std::string typed;  // sent to the memo field as typed characters, "\r" as Enter
        std::string set;    // or set as the field's text
        std::string saved;
    };
    const std::string big(6000, 'm');
    const Row rows[] = {
        {"", "", ""},                        // an empty memo gives an empty file
        {"ab\rcd", "", "ab\r\ncd"},          // two typed lines
        {"", big, big.substr(0, 4999)},      // cut at 4999 bytes
    };
    for (const Row& row : rows) {
        DeleteFileA(kMemo);
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_MEMO, row.set.c_str());
            for (char c : row.typed)
                SendDlgItemMessageA(dlg, IDC_MEMO, WM_CHAR, (BYTE)c, 0);
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForCount(dlg, 1));
            Press(dlg, IDC_DISPLAY);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
        });
        std::string memo;
        ASSERT_TRUE(ReadFileText(kMemo, &memo));
        EXPECT_EQ(memo, row.saved);
        EXPECT_FALSE(measure::FileExists(kData));
    }
}

// A data file that passes 4 GB during a recording (days of samples; here the file is extended
// sparsely between two lines): the next records land at its end, the header stays as it was.
TEST_F(Recording, FilePastFourGiBGetsTheNextRecordsAtItsEnd) {
    const LONGLONG extended = 0x100000000LL + 10;
    std::string log;
    int extended_after = 0;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 3));
        HANDLE h = OpenBetweenLines(GENERIC_WRITE, 0);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LONG high = (LONG)(extended >> 32);
        SetFilePointer(h, (LONG)extended, &high, FILE_BEGIN);
        EXPECT_TRUE(SetEndOfFile(h)) << "error " << GetLastError();
        CloseHandle(h);
        extended_after = measure::Count(dlg);
        ASSERT_TRUE(measure::WaitForCount(dlg, extended_after + 3));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_EQ(log, "Start save!\r\nSave data as C:\\data\\test.dat\r\nStop save!\r\n");
    // Before the extension: the header and the first records, then zeros.
    std::string head, tail;
    ASSERT_TRUE(ReadFileText(kData, &head, 0, 4096));
    head.resize(strlen(head.c_str()));
    EXPECT_EQ(head.rfind(kHeader, 0), 0u);
    std::vector<Record> records = Records(head);
    ASSERT_GE(records.size(), 1u);
    // After it: the records that follow, numbered on from the last one before it.
    ASSERT_TRUE(ReadFileText(kData, &tail, extended));
    std::vector<Record> later = Records(kHeader + tail);
    ASSERT_GE(later.size(), 2u);
    records.insert(records.end(), later.begin(), later.end());
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].number, std::to_string(i + 1));
    EXPECT_GE((int)records.size(), extended_after + 2);
    DeleteFileA(kData);
}

// Holds the file for reading and lets no one write it, as spreadsheet programs do.
HANDLE OpenReader() {
    return CreateFileA(kData, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// A program that holds the file for about a second and lets no one write it: the lines of that
// time are lost, the loss is reported when it begins and counted when writing succeeds again, and
// the samples keep their pace meanwhile (each line is tried once while the hold lasts).
TEST_F(Recording, FileHeldForASecondReportsTheLossAndKeepsThePace) {
    struct Row {
        bool from_start;
        const char* action;
    };
    const Row rows[] = {
        {false, "write"},   // held between two lines of the recording
        {true, "create"},   // an older file of that name held from before the press: the first
                            // record that can be written replaces it, header first
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        DeleteFileA(kData);
        if (row.from_start) {
            HANDLE h = CreateFileA(kData, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            DWORD written;
            WriteFile(h, "old\r\n", 5, &written, NULL);
            CloseHandle(h);
        }
        std::string log;
        int count = 0, during_hold = 0;
        measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            HANDLE reader = INVALID_HANDLE_VALUE;
            if (row.from_start) {
                reader = OpenReader();
                ASSERT_NE(reader, INVALID_HANDLE_VALUE);
                Press(dlg, IDC_RECORD);
            } else {
                Press(dlg, IDC_RECORD);
                ASSERT_TRUE(measure::WaitForCount(dlg, 3));
                reader = OpenBetweenLines(GENERIC_READ, FILE_SHARE_READ);
                ASSERT_NE(reader, INVALID_HANDLE_VALUE);
            }
            int held_at = measure::Count(dlg);
            Sleep(1000);
            during_hold = measure::Count(dlg) - held_at;
            CloseHandle(reader);
            ASSERT_TRUE(measure::LogContains(dlg, " records lost\r\n"));
            Press(dlg, IDC_RECORD);
            ASSERT_TRUE(measure::WaitForWorkerIdle());
            count = measure::Count(dlg);
            log = Log(dlg);
        });
        const std::string head = std::string("Start save!\r\nSave data as C:\\data\\test.dat\r\n") +
                                 "Error: cannot " + row.action +
                                 " C:\\data\\test.dat (file in use)\r\n"
                                 "Writing C:\\data\\test.dat again: ";
        ASSERT_EQ(log.substr(0, head.size()), head);
        const int lost = atoi(log.c_str() + head.size());
        EXPECT_EQ(log.substr(head.size()),
                  std::to_string(lost) + " records lost\r\nStop save!\r\n");
        // Retrying every line for 100 ms would allow ten samples in the second at most.
        EXPECT_GT(during_hold, 25);

        // The file holds every record but the lost ones, which are one run of numbers.
        std::string data;
        ASSERT_TRUE(ReadFileText(kData, &data));
        EXPECT_EQ(data.rfind(kHeader, 0), 0u);
        std::vector<Record> records = Records(data);
        int missing = 0, gaps = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            int expected = (int)i + 1 + missing;
            int number = atoi(records[i].number.c_str());
            if (number != expected) {
                gaps++;
                missing += number - expected;
            }
        }
        EXPECT_EQ(gaps, 1);
        EXPECT_EQ(missing, lost);
        // The sample under way at the stop may be counted but not recorded.
        EXPECT_GE((int)records.size() + lost + 1, count);
        EXPECT_LE((int)records.size() + lost, count);
    }
}

// Japanese text in the platform's ANSI code page (UTF-8 on Linux, 932 on a Japanese Windows and
// under Wine in a Japanese locale): the files are named as typed, the log shows the name whole,
// and the memo file holds the memo's bytes.
TEST_F(Recording, JapaneseNameAndMemoAreKeptAsTyped) {
    std::string name, memo;
    if (GetACP() == CP_UTF8) {
        name = "\xE6\xB8\xAC\xE5\xAE\x9A\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";  // 測定データ
        memo = "\xE3\x83\xA1\xE3\x83\xA2\r\n\xE4\xBA\x8C\xE8\xA1\x8C\xE7\x9B\xAE";  // メモ, 二行目
    } else if (GetACP() == 932) {
        name = "\x91\xAA\x92\xE8\x83\x66\x81\x5B\x83\x5E";
        memo = "\x83\x81\x83\x82\r\n\x93\xF1\x8D\x73\x96\xDA";
    } else {
        GTEST_SKIP() << "ANSI code page " << GetACP() << " has no Japanese characters";
    }
    const std::string data = "C:\\data\\" + name + ".dat", text = "C:\\data\\" + name + ".txt";
    DeleteFileA(data.c_str());
    DeleteFileA(text.c_str());
    std::string log;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_FILENAME, name.c_str());
        SetDlgItemTextA(dlg, IDC_MEMO, memo.c_str());
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForCount(dlg, 2));
        Press(dlg, IDC_RECORD);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        log = Log(dlg);
    });
    EXPECT_EQ(log, "Start save!\r\nSave data as " + data + "\r\nStop save!\r\n");
    std::string saved_data, saved_memo;
    ASSERT_TRUE(ReadFileText(data.c_str(), &saved_data)) << "error " << GetLastError();
    EXPECT_EQ(saved_data.rfind(std::string(kHeader) + "1\t", 0), 0u);
    ASSERT_TRUE(ReadFileText(text.c_str(), &saved_memo)) << "error " << GetLastError();
    EXPECT_EQ(saved_memo, memo);
    DeleteFileA(data.c_str());
    DeleteFileA(text.c_str());
}

}  // namespace
