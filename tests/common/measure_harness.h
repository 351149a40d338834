// Runs the measurement program's dialog on the test thread and drives it from a second thread,
// through the Win32 API only, as a user pressing buttons and reading fields would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/pacing.h"
#include "app/dialog.h"
#include "dialogstate/dlgmain.h"
#include "res/resource.h"
#include "tests/common/dialog_harness.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

namespace measure {

// Runs WinMain until `body` returns (then the dialog is cancelled). Afterwards the plot window's
// class is unregistered, so that the next dialog of this process registers it afresh.
// Returns WinMain's result, the process's exit code.
inline INT_PTR Run(const std::function<void(HWND)>& body, DWORD timeout_ms = 20000) {
    INT_PTR result = harness::Drive(
        reinterpret_cast<HWND volatile*>(&hDlgMain),
        [] {
            char empty[] = "";
            return (INT_PTR)WinMain(GetModuleHandleA(NULL), NULL, empty, 1);
        },
        body, timeout_ms);
    UnregisterClassA("Display", GetModuleHandleA(NULL));
    return result;
}

// The dialog's procedure with one addition: WM_APP runs the step that lParam points to on the
// dialog's thread, between two of its messages. A step can hold the worker at a known point (the
// worker's calls to windows wait for this thread) while it presses buttons.
inline INT_PTR CALLBACK SteppedDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        (*reinterpret_cast<const std::function<void(HWND)>*>(lParam))(hwnd);
        return 1;
    }
    return MeasureDlgProc(hwnd, message, wParam, lParam);
}

inline void OnDialogThread(HWND dlg, const std::function<void(HWND)>& step) {
    SendMessageA(dlg, WM_APP, 0, reinterpret_cast<LPARAM>(&step));
}

// As Run, with the dialog made by DialogBoxParamA over `proc` (one that ends in SteppedDlgProc).
inline void RunStepped(const std::function<void(HWND)>& body, DLGPROC proc = SteppedDlgProc,
                       DWORD timeout_ms = 20000) {
    harness::Drive(
        reinterpret_cast<HWND volatile*>(&hDlgMain),
        [proc] {
            return DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MEASURE), NULL,
                                   proc, 0);
        },
        body, timeout_ms);
    UnregisterClassA("Display", GetModuleHandleA(NULL));
}

// On the dialog's thread: wakes the worker for one sample and returns once it has taken the
// tick. The worker then stands at its first field update, before its record step, until this
// thread serves sent messages again.
inline void HoldWorkerInASample() {
    for (;;) {
        SignalTick();
        Sleep(1);
        // Still signalled: the worker has not taken it yet; take it back and try again.
        if (WaitForSingleObject(hTickEvent, 0) == WAIT_TIMEOUT)
            return;
    }
}

// Presses a button as a click does: the command reaches the dialog on its own thread.
inline void Press(HWND dlg, int id) { SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

inline std::string Log(HWND dlg) { return harness::FieldText(dlg, IDC_LOG, 1 << 16); }

inline int Count(HWND dlg) { return atoi(harness::FieldText(dlg, IDC_COUNT).c_str()); }

// Waits until the count field shows at least n.
inline bool WaitForCount(HWND dlg, int n, DWORD timeout_ms = 10000) {
    return harness::WaitFor([&] { return Count(dlg) >= n; }, timeout_ms);
}

// Waits until no worker runs any more.
inline bool WaitForWorkerIdle(DWORD timeout_ms = 10000) {
    return WaitForSingleObject(hWorkerIdleEvent, timeout_ms) == WAIT_OBJECT_0;
}

inline bool LogContains(HWND dlg, const std::string& text, DWORD timeout_ms = 10000) {
    return harness::WaitFor([&] { return Log(dlg).find(text) != std::string::npos; },
                            timeout_ms);
}

// Reads a file through the Win32 API, from offset `from` (which may lie past 4 GB) up to `most`
// bytes, by default all of it; false if it cannot be opened or the offset reached.
inline bool ReadFileText(const char* path, std::string* text, LONGLONG from = 0,
                         size_t most = std::string::npos) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    text->clear();
    LONG high = (LONG)(from >> 32);
    SetLastError(ERROR_SUCCESS);
    if (SetFilePointer(h, (LONG)from, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != ERROR_SUCCESS) {
        CloseHandle(h);
        return false;
    }
    char buf[4096];
    DWORD got = 0;
    while (text->size() < most &&
           ReadFile(h, buf, (DWORD)std::min(sizeof buf, most - text->size()), &got, NULL) &&
           got > 0)
        text->append(buf, got);
    CloseHandle(h);
    return true;
}

// The first line of every data file.
const char* const kDataHeader = "Number\tTime(s)\tX_Data\tY_Data\r\n";

// A record of the data file: its four tab-separated fields as written.
struct Record {
    std::string number, time, x, y;
};

// Reads the records of a data file's text, every line after the first, in order, until `visit`
// returns false. Each must be a whole line, four fields and CR LF: the first that is not fails
// the test and ends the reading.
inline void ForEachRecord(const std::string& data,
                          const std::function<bool(const Record&)>& visit) {
    size_t pos = data.find("\r\n");
    if (pos == std::string::npos)
        return;
    for (pos += 2; pos < data.size();) {
        const size_t end = data.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a record without its line end: " << data.substr(pos, 200);
            return;
        }
        const std::string line = data.substr(pos, end - pos);
        if (std::count(line.begin(), line.end(), '\t') != 3) {
            ADD_FAILURE() << "not a whole record: " << line;
            return;
        }
        const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1),
                     t3 = line.find('\t', t2 + 1);
        if (!visit({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1),
                    line.substr(t2 + 1, t3 - t2 - 1), line.substr(t3 + 1)}))
            return;
        pos = end + 2;
    }
}

inline std::vector<Record> Records(const std::string& data) {
    std::vector<Record> records;
    ForEachRecord(data, [&](const Record& r) {
        records.push_back(r);
        return true;
    });
    return records;
}

inline bool FileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Deletes a file, retrying while the worker has it open for a line (without sharing delete).
inline bool DeleteWhenFree(const char* path) {
    return harness::WaitFor([&] {
        return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
    });
}

}  // namespace measure
