// Processes: CreateProcessA, GetCurrentProcess's pseudo-handle, the process handle (signalled when the process has ended), its exit
// code, TerminateProcess, and the module's file name, which the tests use to start helpers that
// lie beside them.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "drive.h"
#include "kernel_private.h"

extern char** environ;

namespace w32 {
namespace {

struct Process : Waitable {
    pid_t pid = 0;
    DWORD exit_code = STILL_ACTIVE;  // guarded by sync_mutex()
    DWORD terminated_with = 0;       // TerminateProcess's code, once it has killed the process
    bool terminated = false;
};

// Splits a command line as the C runtime of a Win32 program does: words separated by blanks,
// double quotes group, a backslash escapes a quote.
std::vector<std::string> split_command_line(const char* line) {
    std::vector<std::string> words;
    const char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        std::string word;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '\\' && p[1] == '"') {
                word += '"';
                ++p;
            } else if (*p == '"') {
                quoted = !quoted;
            } else {
                word += *p;
            }
        }
        words.push_back(word);
    }
    return words;
}

// Waits for the child's end in a thread of its own and then signals its handles.
void reap(std::shared_ptr<Process> process) {
    std::thread([process] {
        int status = 0;
        while (::waitpid(process->pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard<std::mutex> lock(sync_mutex());
            if (process->terminated)
                process->exit_code = process->terminated_with;
            else if (WIFEXITED(status))
                process->exit_code = static_cast<DWORD>(WEXITSTATUS(status));
            else
                process->exit_code = 128u + static_cast<DWORD>(WTERMSIG(status));
            process->signalled = true;
        }
        sync_cv().notify_all();
    }).detach();
}

std::shared_ptr<Process> find_process(HANDLE h) {
    auto p = find<Process>(h, Kind::Process);
    if (!p) set_error(ERROR_INVALID_HANDLE);
    return p;
}

}  // namespace
}  // namespace w32

extern "C" {

// The pseudo-handle Win32 gives for the calling process.
HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    using namespace w32;
    std::vector<std::string> words = split_command_line(lpCommandLine ? lpCommandLine : "");
    const std::string program = lpApplicationName ? lpApplicationName
                                : words.empty()   ? std::string()
                                                  : words[0];
    if (program.empty() || !lpProcessInformation) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    auto process = std::make_shared<Process>();
    process->manual_reset = true;
    if (const int err =
            ::posix_spawn(&process->pid, program.c_str(), nullptr, nullptr, argv.data(), environ)) {
        set_error(err == ENOENT ? ERROR_FILE_NOT_FOUND : error_from_errno(err));
        return FALSE;
    }
    reap(process);
    // The thread handle stands for the process's main thread, which ends with it.
    HANDLE hProcess = add_handle(Kind::Process, process);
    HANDLE hThread = hProcess ? add_handle(Kind::Process, process) : nullptr;
    if (!hThread) {
        if (hProcess) remove_handle(hProcess, Kind::Process);
        ::kill(process->pid, SIGKILL);
        return FALSE;
    }
    lpProcessInformation->hProcess = hProcess;
    lpProcessInformation->hThread = hThread;
    lpProcessInformation->dwProcessId = static_cast<DWORD>(process->pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(process->pid);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    using namespace w32;
    auto process = find_process(hProcess);
    if (!process) return FALSE;
    std::lock_guard<std::mutex> lock(sync_mutex());
    *lpExitCode = process->exit_code;
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    using namespace w32;
    auto process = find_process(hProcess);
    if (!process) return FALSE;
    std::lock_guard<std::mutex> lock(sync_mutex());
    if (process->signalled) {
        set_error(ERROR_ACCESS_DENIED);  // Win32's answer for a process that has ended
        return FALSE;
    }
    process->terminated = true;
    process->terminated_with = uExitCode;
    ::kill(process->pid, SIGKILL);
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    using namespace w32;
    if (hModule && hModule != GetModuleHandleA(nullptr)) {
        set_error(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0 || nSize == 0) {
        set_error(n < 0 ? error_from_errno(errno) : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Cut to the buffer as Win32 cuts, with the error that says so.
    const DWORD length = static_cast<DWORD>(n);
    const DWORD copied = length < nSize ? length : nSize - 1;
    std::memcpy(lpFilename, path, copied);
    lpFilename[copied] = '\0';
    set_error(copied < length ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
    return copied < length ? nSize : copied;
}

}  // extern "C"
