// Starting a helper program of the tests, built beside the test executable, as a process of its
// own. The name is given without ".exe": Win32 adds it, and the Linux build has none.
#pragma once

#include <windows.h>

#include <string>

namespace beside {

inline bool Start(const char* program, const std::string& args, PROCESS_INFORMATION* pi) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, exe, sizeof exe);
    std::string dir(exe, n);
    dir.resize(dir.find_last_of("\\/") + 1);
    std::string command = "\"" + dir + program + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, pi) != 0;
}

// Waits for the process's end and closes its handles; its exit code, or STILL_ACTIVE when it
// did not end in time (it is then killed).
inline DWORD Finish(PROCESS_INFORMATION* pi, DWORD timeout_ms = 30000) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(pi->hProcess, timeout_ms) != WAIT_OBJECT_0)
        TerminateProcess(pi->hProcess, STILL_ACTIVE);
    else
        GetExitCodeProcess(pi->hProcess, &code);
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
    return code;
}

}  // namespace beside
