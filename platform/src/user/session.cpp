// The end of a session. Windows ends a program at logout or shutdown by sending its top-level
// windows WM_QUERYENDSESSION and WM_ENDSESSION, and ends the process once WM_ENDSESSION has
// returned. Here SIGTERM, SIGHUP and SIGINT mean the same: a handler only writes to a pipe (all
// a signal handler may safely do); a thread of the layer reads that pipe and hands the end to the
// owner thread as a cross-thread send, which sends the two messages and then ends the process
// with exit code 0. Being a send, it is served wherever Windows' own messages would be: in the
// event loop, and also while the owner waits in MsgWaitForMultipleObjects(QS_SENDMESSAGE).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>

#include "user_private.h"

namespace w32 {
namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int) {
    const int saved = errno;
    const char byte = 1;
    ssize_t written = ::write(signal_pipe[1], &byte, 1);
    (void)written;  // a full pipe already holds a pending end
    errno = saved;
}

std::vector<HWND> top_level_windows() {
    std::vector<HWND> tops;
    for (void* h : handles_of(Kind::Window)) {
        auto w = find_window(static_cast<HWND>(h));
        if (w && !w->parent) tops.push_back(w->hwnd);
    }
    return tops;
}

void end_session() {
    const std::vector<HWND> tops = top_level_windows();
    // A signal cannot be refused: the answers to the query are not consulted.
    for (HWND h : tops) SendMessageA(h, WM_QUERYENDSESSION, 0, 0);
    for (HWND h : tops) SendMessageA(h, WM_ENDSESSION, TRUE, 0);
    finish_power_requests();
    std::fflush(nullptr);
    ::_exit(0);
}

// Blocks on the pipe's read end until a signal has come, then has the owner end the session.
void watch_pipe() {
    char byte;
    while (::read(signal_pipe[0], &byte, 1) != 1) {
        if (errno != EINTR) return;
    }
    run_on_owner(nullptr, [] {
        end_session();
        return LRESULT{0};
    });
}

}  // namespace

void watch_session_signals() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    if (::pipe2(signal_pipe, O_CLOEXEC) != 0) return;
    // The handler must never block; the watcher does nothing else.
    ::fcntl(signal_pipe[1], F_SETFL, O_NONBLOCK);
    std::thread(watch_pipe).detach();
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

}  // namespace w32
