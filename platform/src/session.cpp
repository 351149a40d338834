// The end of a session. Windows ends a program at logout or shutdown by sending its top-level
// windows WM_QUERYENDSESSION and WM_ENDSESSION, and ends the process once WM_ENDSESSION has
// returned. Here SIGTERM, SIGHUP and SIGINT mean the same: a handler only writes to a pipe (all
// a signal handler may safely do), and the owner thread, watching that pipe from its event loop,
// sends the two messages and then ends the process with exit code 0.
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "layer.h"

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
    std::fflush(nullptr);
    ::_exit(0);
}

}  // namespace

void watch_session_signals() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { end_session(); });
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

}  // namespace w32
