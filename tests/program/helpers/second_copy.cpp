// A second copy of the program, for the tests of two copies at once: it runs the measurement
// dialog and records, as a user of a second window would, while the test's own copy runs.
// It records <base name> at 10 ms with <memo>; once three samples are counted it writes
// "recording" to <flag file> and records on until the test deletes that file (or kills it);
// three samples later it stops, waits for its worker's end, and writes its log to <flag file>.
// Usage: second_copy <base name> <memo> <flag file>
// Exit code: 0 once the log is written; 2 if the dialog did not go as described; 1 for wrong usage.
#include <windows.h>

#include <string>

#include "tests/common/measure_harness.h"

static bool WriteText(const char* path, const std::string& text) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == text.size();
}

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    const char* flag = argv[3];
    bool done = false;
    std::string log;
    measure::Run(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            SetDlgItemTextA(dlg, IDC_FILENAME, argv[1]);
            SetDlgItemTextA(dlg, IDC_MEMO, argv[2]);
            measure::Press(dlg, IDC_RECORD);
            if (!measure::WaitForCount(dlg, 3) || !WriteText(flag, "recording") ||
                !harness::WaitFor([&] { return !measure::FileExists(flag); }, 30000) ||
                !measure::WaitForCount(dlg, measure::Count(dlg) + 3))
                return;
            measure::Press(dlg, IDC_RECORD);
            if (!measure::WaitForWorkerIdle()) return;
            log = measure::Log(dlg);
            done = true;
        },
        60000);
    return done && WriteText(flag, log) ? 0 : 2;
}
