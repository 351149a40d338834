// Runs a dialog on the calling thread and drives it from a second thread, as a user or another
// program would: the body gets the dialog's handle and talks to it through the Win32 API only.
#pragma once

#include <process.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace harness {

// Milliseconds since an arbitrary start, for deadlines.
inline DWORD Now() { return GetTickCount(); }

// Polls `cond` until it holds or `timeout_ms` has passed; true if it held. The polling interval
// is short, so a test waits only as long as the condition takes.
inline bool WaitFor(const std::function<bool()>& cond, DWORD timeout_ms = 5000) {
    DWORD start = Now();
    for (;;) {
        if (cond()) return true;
        if (Now() - start > timeout_ms) return false;
        Sleep(2);
    }
}

struct Driver {
    HWND volatile* hwnd_slot;  // written and read on the dialog's thread only
    std::function<void(HWND)> body;
    DWORD timeout_ms;
    std::atomic<HWND> hwnd{nullptr};
    std::atomic<bool> dialog_returned{false};
};

// The driver of the dialog being run. The slot is written by the dialog procedure on the dialog's
// thread, so it is read there too, by a thread timer that runs in the dialog's message loop, and
// handed to the driver's thread through an atomic.
inline std::atomic<Driver*>& CurrentDriver() {
    static std::atomic<Driver*> current{nullptr};
    return current;
}

inline void CALLBACK ReadSlotTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    Driver* d = CurrentDriver();
    if (d && *d->hwnd_slot) {
        KillTimer(NULL, id);
        d->hwnd = *d->hwnd_slot;
    }
}

inline unsigned __stdcall DriverThread(void* arg) {
    Driver* d = static_cast<Driver*>(arg);
    // A dialog that fails to start returns at once: stop waiting for its handle then.
    WaitFor([d] { return d->hwnd != nullptr || d->dialog_returned; }, d->timeout_ms);
    HWND hwnd = d->hwnd;
    if (hwnd) {
        // A send is served only once the dialog's thread is in its message loop, so the body
        // starts after initialisation has ended.
        SendMessageA(hwnd, WM_NULL, 0, 0);
        d->body(hwnd);
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

// Starts `body` on a second thread once *hwnd_slot holds the dialog's handle (the dialog
// procedure under test stores it there at WM_INITDIALOG), then runs `run_dialog` on this
// thread. When the body returns, IDCANCEL is posted to the dialog. Returns what run_dialog
// returned. The body must not outlive the dialog: it is joined before this returns.
inline INT_PTR Drive(HWND volatile* hwnd_slot, const std::function<INT_PTR()>& run_dialog,
                     const std::function<void(HWND)>& body, DWORD timeout_ms = 10000) {
    *hwnd_slot = nullptr;
    Driver d{hwnd_slot, body, timeout_ms};
    CurrentDriver() = &d;
    UINT_PTR timer = SetTimer(NULL, 0, 1, ReadSlotTimerProc);
    unsigned id = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DriverThread, &d, 0, &id));
    INT_PTR result = run_dialog();
    KillTimer(NULL, timer);
    d.dialog_returned = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CurrentDriver() = nullptr;
#ifdef ADD_FAILURE  // in tests (gtest included first), a body that never ran is a failure
    if (!d.hwnd)
        ADD_FAILURE() << "the dialog never stored its handle (DialogBoxParamA returned "
                      << static_cast<long long>(result) << ")";
#endif
    return result;
}

// One Japanese character (測) in the ANSI code page: two bytes under code page 932, three in the
// layer's UTF-8; empty where the code page has no such character.
inline std::string JapaneseCharacter() {
    if (GetACP() == 932) return "\x91\xAA";
    if (GetACP() == CP_UTF8) return "\xE6\xB8\xAC";
    return "";
}

// Reads a dialog field into a std::string (from any thread).
inline std::string FieldText(HWND dlg, int id, int size = 8192) {
    std::string buf(size, '\0');
    UINT n = GetDlgItemTextA(dlg, id, &buf[0], size);
    buf.resize(n);
    return buf;
}

}  // namespace harness
