// Failures that only the layer can provoke (events, timer, files, the handle table), planned
// through its test seam and met through the whole dialog: each is reported, and the program goes
// on, stops and closes as usual.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "plot/plot.h"
#include "tests/common/measure_harness.h"
#include "w32_faults.h"

using measure::Log;
using measure::Press;
using w32::faults::Call;

namespace {

const char* const kData = "C:\\data\\test.dat";
const char* const kMemo = "C:\\data\\test.txt";
const char* const kHeader = measure::kDataHeader;

int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The sample numbers of a data file's records.
std::vector<int> RecordNumbers(const std::string& data) {
    std::vector<int> numbers;
    for (const measure::Record& r : measure::Records(data))
        numbers.push_back(atoi(r.number.c_str()));
    return numbers;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\data", NULL);
        DeleteFileA(kData);
        DeleteFileA(kMemo);
        w32::faults::Reset();
    }
    void TearDown() override { w32::faults::Reset(); }
};

// The handle table's counter wraps after about 500 million handles: two weeks of samples at
// 10 ms. Here it wraps within a ring of 64 values, which also holds every handle the dialog keeps
// (windows, events, the plot's image), every few samples: none of those may be replaced, so the
// dialog answers throughout, and the data file is whole.
TEST_F(Faults, HandleWrapPassesOverTheDialogsOwnHandles) {
    const int kSamples = 100;  // some 300 handles: pens, brushes, file opens, paint DCs
    w32::faults::HandleRing(64);
    std::string log;
    COLORREF baseline = CLR_INVALID;
    measure::RunStepped([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        SetDlgItemTextA(dlg, IDC_MEMO, "memo");
        Press(dlg, IDC_RECORD);
        EXPECT_TRUE(measure::WaitForCount(dlg, kSamples));
        for (int id : {IDC_DISPLAY, IDC_RECORD, IDC_INTERVAL, IDC_COUNT, IDC_ELAPSED, IDC_FILENAME,
                       IDC_MEMO, IDC_LOG})
            EXPECT_EQ(id, GetDlgCtrlID(GetDlgItem(dlg, id)));
        EXPECT_EQ(dlg, GetParent(hwndDisplay));
        Press(dlg, IDC_RECORD);
        EXPECT_TRUE(measure::WaitForWorkerIdle());
        EXPECT_NE(WAIT_FAILED, WaitForSingleObject(hTickEvent, 0));
        EXPECT_NE(WAIT_FAILED, WaitForSingleObject(hStopEvent, 0));
        // Read where the image is copied from, between two of its paints.
        measure::OnDialogThread(dlg, [&](HWND) { baseline = GetPixel(hdcDisplay, 0, 200); });
        log = Log(dlg);
    });
    EXPECT_EQ(RGB(0, 255, 0), baseline) << "the plot's baseline";
    EXPECT_EQ(std::string::npos, log.find("Error")) << log;
    std::string data;
    ASSERT_TRUE(measure::ReadFileText(kData, &data));
    EXPECT_EQ(data.rfind(kHeader, 0), 0u);
    std::vector<int> numbers = RecordNumbers(data);
    ASSERT_GE(numbers.size(), size_t{kSamples});
    for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], int(i + 1));
    EXPECT_TRUE(measure::FileExists(kMemo));
}

unsigned __stdcall ReturnAtOnce(void*) { return 0; }

// With every value in use, each kind of object fails to be made as Win32 fails; a value closed
// since is the next one handed out, and the handles around it keep their objects.
TEST_F(Faults, HandleWrapWithEveryValueInUseFailsAsWin32Does) {
    const int kRing = 16;
    w32::faults::HandleRing(kRing);
    std::vector<HANDLE> events;
    for (int i = 0; i < kRing; ++i) {
        events.push_back(CreateEventA(NULL, TRUE, FALSE, NULL));
        ASSERT_NE(events.back(), nullptr) << i;
    }
    struct Row {
        const char* what;
        std::function<bool()> make;  // true if the object was made
        DWORD error;
    };
    const Row rows[] = {
        {"event", [] { return CreateEventA(NULL, FALSE, FALSE, NULL) != NULL; },
         ERROR_NO_SYSTEM_RESOURCES},
        {"file",
         [] {
             return CreateFileA(kData, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                NULL) != INVALID_HANDLE_VALUE;
         },
         ERROR_NO_SYSTEM_RESOURCES},
        {"thread",
         [] {
             unsigned id;
             return _beginthreadex(NULL, 0, ReturnAtOnce, NULL, 0, &id) != 0;
         },
         ERROR_NO_SYSTEM_RESOURCES},
        {"window",
         [] {
             return CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                    GetModuleHandleA(NULL), NULL) != NULL;
         },
         ERROR_NO_MORE_USER_HANDLES},
        // GDI leaves the error as it was (observed under Wine).
        {"pen", [] { return CreatePen(PS_SOLID, 1, 0) != NULL; }, 0xdeadbeef},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(row.make());
        EXPECT_EQ(row.error, GetLastError());
    }
    ASSERT_TRUE(CloseHandle(events[5]));
    HANDLE again = CreateEventA(NULL, TRUE, TRUE, NULL);
    EXPECT_EQ(events[5], again);
    for (HANDLE h : events)
        EXPECT_EQ(h == again ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(h, 0));
    for (HANDLE h : events) CloseHandle(h);
}

std::atomic<int> g_setfocus{0};

LRESULT CALLBACK CountSetFocus(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND && HIWORD(wp) == EN_SETFOCUS) ++g_setfocus;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// A field destroyed while it has the focus leaves none behind: the field that gets its handle
// value next takes the focus as any other does.
TEST_F(Faults, HandleWrapLeavesNoFocusWithAReusedValue) {
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = CountSetFocus;
    wc.hInstance = instance;
    wc.lpszClassName = "FocusParent";
    ASSERT_NE(0, RegisterClassExA(&wc));
    HWND parent =
        CreateWindowExA(0, "FocusParent", "", WS_POPUP, 0, 0, 100, 100, NULL, NULL, instance, NULL);
    ASSERT_NE(parent, nullptr);
    w32::faults::HandleRing(1);
    HWND first = CreateWindowExA(0, "Edit", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent,
                                 (HMENU)1, instance, NULL);
    SetFocus(first);
    DestroyWindow(first);
    HWND second = CreateWindowExA(0, "Edit", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent,
                                  (HMENU)2, instance, NULL);
    ASSERT_EQ(first, second) << "the ring's one value";
    g_setfocus = 0;
    SetFocus(second);
    EXPECT_EQ(1, g_setfocus.load());
    EXPECT_EQ(second, GetFocus());
    w32::faults::Reset();
    DestroyWindow(parent);
    UnregisterClassA("FocusParent", instance);
}

// The records a log counts as lost, in all its "Writing ... : <n> records lost" lines.
long long LostInLog(const std::string& log) {
    long long lost = 0;
    for (size_t at = log.find(" records lost\r\n"); at != std::string::npos;
         at = log.find(" records lost\r\n", at + 1)) {
        const size_t digits = log.find_last_not_of("0123456789", at - 1) + 1;
        lost += atoll(log.substr(digits, at - digits).c_str());
    }
    return lost;
}

// What a row does to the data file itself, once four records are in it.
enum class Act { None, Delete, Hold };

// One planned failure each, planned once the dialog is up (the events' before it starts, as they
// are made at its start), or a data file deleted or held by another program; the acquisition
// runs with a 10 ms interval until `samples` samples (or, for 0, for a quarter of a second, in
// which no sample may come), then the same button stops it and the dialog is closed.
TEST_F(Faults, EachFailureIsReportedAndTheProgramGoesOn) {
    struct Row {
        const char* what;
        Call call;
        int skip, count;
        DWORD error;
        int button;
        int samples;
        const char* line;  // the report, exactly `times` times in the log
        int times;
        const char* memo;  // the memo file's text afterwards; nullptr: there is none
        DWORD bytes = 0;   // WriteFile only: what each failing write lets through first
        bool says_written = false;  // ... and reports written, as if it had not failed
        Act act = Act::None;
        bool lost_at_stop = false;  // the stop counts records still lost
    };
    const char* const kLostAtStop = "Stop save!\r\nWriting C:\\data\\test.dat stopped: ";
    const Row rows[] = {
        // Both events of the worker missing: two reports, never a sample run unpaced.
        {"events", Call::CreateEventA, 0, 2, ERROR_NOT_ENOUGH_MEMORY, IDC_DISPLAY, 0,
         "error: hComEvent = CreateEvent()\r\n", 2, nullptr},
        // No timer: reported, no tick; the stop still ends the worker, which saves the memo.
        {"timer", Call::SetTimer, 0, 1, ERROR_NOT_ENOUGH_MEMORY, IDC_DISPLAY, 0,
         "SetTimer function fails to create a timer!\r\n", 1, "memo"},
        // The data file cannot be created: once, and the samples go on.
        {"create", Call::CreateFileA, 0, 1, ERROR_ACCESS_DENIED, IDC_RECORD, 20,
         "Error: cannot create C:\\data\\test.dat (access denied)\r\n", 1, "memo"},
        // The disk fills up after four records for ten lines: one report for all of them.
        {"disk full", Call::WriteFile, 5, 10, ERROR_DISK_FULL, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (disk full)\r\n", 1, "memo"},
        // The same with the disk filling up in the middle of a line: each failing write leaves
        // a fragment, which is cut off again, so that no record is torn.
        {"disk full mid-line", Call::WriteFile, 5, 10, ERROR_DISK_FULL, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (disk full)\r\n", 1, "memo", 7},
        // The disk stays full until the stop, which counts the records lost; the memo cannot be
        // written either.
        {"disk full to the stop", Call::WriteFile, 5, 1 << 20, ERROR_DISK_FULL, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (disk full)\r\n", 1, "", 0, false, Act::None,
         true},
        // The end of the file cannot be reached for ten lines: they are lost as unwritable lines
        // are, and nothing is written where the pointer happens to be.
        {"end not reached", Call::SetFilePointer, 5, 10, ERROR_INVALID_PARAMETER, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (error 87)\r\n", 1, "memo"},
        // The file is deleted during the recording: the later records are lost (only an
        // existing file is opened), and the stop counts them.
        {"file deleted", Call::CreateFileA, 0, 0, 0, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (file not found)\r\n", 1, "memo", 0, false,
         Act::Delete, true},
        // Another program keeps the file open, denying writes, until after the stop.
        {"file held to the stop", Call::CreateFileA, 0, 0, 0, IDC_RECORD, 30,
         "Error: cannot write C:\\data\\test.dat (file in use)\r\n", 1, "memo", 0, false, Act::Hold,
         true},
        // The memo file cannot be created: reported with its path.
        {"memo create", Call::CreateFileA, 0, 1, ERROR_ACCESS_DENIED, IDC_DISPLAY, 3,
         "Error: cannot write memo C:\\data\\test.txt (access denied)\r\n", 1, nullptr},
        // The memo's text cannot be written: reported the same way.
        {"memo write", Call::WriteFile, 0, 1, ERROR_DISK_FULL, IDC_DISPLAY, 3,
         "Error: cannot write memo C:\\data\\test.txt (disk full)\r\n", 1, ""},
        // A memo write that says it succeeded with two bytes of four: a disk that filled up,
        // reported as such, and the fragment is cut off again.
        {"memo short write", Call::WriteFile, 0, 1, ERROR_SUCCESS, IDC_DISPLAY, 3,
         "Error: cannot write memo C:\\data\\test.txt (disk full)\r\n", 1, "", 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeleteFileA(kData);
        DeleteFileA(kMemo);
        w32::faults::Reset();
        const bool at_start = row.call == Call::CreateEventA;
        auto plan = [&] {
            if (row.says_written)
                w32::faults::ShortWrite(row.skip, row.count, row.bytes);
            else if (row.bytes > 0)
                w32::faults::FillDisk(row.skip, row.count, row.bytes);
            else
                w32::faults::Fail(row.call, row.skip, row.count, row.error);
        };
        if (at_start) plan();
        std::string log, count, acted, last;
        bool idle = false;
        HANDLE holder = INVALID_HANDLE_VALUE;
        INT_PTR exit_code = measure::Run([&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            SetDlgItemTextA(dlg, IDC_MEMO, "memo");
            if (!at_start) plan();
            Press(dlg, row.button);
            if (row.act != Act::None) {
                EXPECT_TRUE(measure::WaitForCount(dlg, 5));
                if (row.act == Act::Delete)
                    EXPECT_TRUE(measure::DeleteWhenFree(kData));
                else
                    // Opened between two lines: while the worker writes one it holds the file.
                    EXPECT_TRUE(harness::WaitFor([&] {
                        holder = CreateFileA(kData, GENERIC_READ, FILE_SHARE_READ, NULL,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
                        return holder != INVALID_HANDLE_VALUE;
                    }));
                acted = harness::FieldText(dlg, IDC_COUNT);
            }
            if (row.samples > 0)
                EXPECT_TRUE(measure::WaitForCount(dlg, row.samples));
            else
                Sleep(250);
            count = harness::FieldText(dlg, IDC_COUNT);
            Press(dlg, row.button);
            idle = measure::WaitForWorkerIdle();
            last = harness::FieldText(dlg, IDC_COUNT);
            log = Log(dlg);
        });
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        EXPECT_EQ(exit_code, 0);
        EXPECT_TRUE(idle);
        if (row.samples == 0) EXPECT_EQ(count, "");
        EXPECT_EQ(Occurrences(log, row.line), row.times) << log;
        EXPECT_EQ(Occurrences(log, kLostAtStop), row.lost_at_stop ? 1 : 0) << log;
        std::string memo;
        EXPECT_EQ(measure::ReadFileText(kMemo, &memo), row.memo != nullptr);
        if (row.memo) EXPECT_EQ(memo, row.memo);
        const bool data_expected = row.button == IDC_RECORD && row.act != Act::Delete;
        EXPECT_EQ(measure::FileExists(kData), data_expected);
        if (row.act == Act::Delete) {
            // Lost: every record after the deletion, and none of the four before it.
            EXPECT_GE(LostInLog(log) + 1, atoll(last.c_str()) - atoll(acted.c_str())) << log;
            EXPECT_LE(LostInLog(log) + 4, atoll(last.c_str())) << log;
        }
        if (!data_expected) continue;
        std::string data;
        ASSERT_TRUE(measure::ReadFileText(kData, &data));
        // Whatever was written before the failure stays, and every record is whole.
        EXPECT_EQ(data.rfind(kHeader, 0), 0u);
        std::vector<int> numbers = RecordNumbers(data);
        ASSERT_GE(numbers.size(), 4u);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(numbers[i], i + 1);
        for (size_t i = 1; i < numbers.size(); ++i) EXPECT_GT(numbers[i], numbers[i - 1]);
        // Every sample shown is in the file or counted lost, but the one under way at the stop,
        // which is shown but, its mode being 0 by then, not recorded.
        const long long accounted = (long long)numbers.size() + LostInLog(log);
        EXPECT_LE(accounted, atoll(last.c_str())) << log;
        EXPECT_GE(accounted + 1, atoll(last.c_str())) << log;
    }
}

}  // namespace
