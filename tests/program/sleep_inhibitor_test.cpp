// While an acquisition runs, the layer holds a sleep inhibitor of the desktop for the program's
// SetThreadExecutionState: the desktop portal's, else logind's, against a stand-in service on a
// private D-Bus that logs each inhibitor taken and released. Each case runs the dialog in a child
// process, which connects to that bus afresh (a process connects to its buses once).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/common/measure_harness.h"

extern char** environ;

namespace {

using measure::Press;

// The stand-in's log, named by the parent for its child.
const char* const kLogVariable = "MEASURE_TEST_INHIBITOR_LOG";

// Inhibitors taken and released so far, by the lines of the stand-in's log.
struct Inhibitors {
    std::vector<std::string> taken;
    int released = 0;
    int asked = 0;  // by the slow portal, which logs an Inhibit as it comes
    int held() const { return (int)taken.size() - released; }
};

Inhibitors ReadLog(const std::string& path) {
    Inhibitors result;
    std::ifstream log(path);
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("take ", 0) == 0) result.taken.push_back(line.substr(5));
        if (line.rfind("release ", 0) == 0) result.released++;
        if (line == "ask portal") result.asked++;
    }
    return result;
}

int Held() { return ReadLog(getenv(kLogVariable)).held(); }

// Starts `argv` with its standard output on a pipe and reads its first line (within 10 s);
// the process id, or -1. With `quiet`, its standard error goes nowhere.
pid_t Start(const std::vector<std::string>& argv, std::string* first_line, bool quiet = false) {
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    first_line->clear();
    pollfd p = {out[0], POLLIN, 0};
    char c;
    while (pid > 0 && poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
        *first_line += c;
    close(out[0]);
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

enum Service { kPortal, kSlowPortal, kLogind, kNeither };
enum Ending { kStop, kClose, kSessionEnd };

// How long the slow portal takes to answer an Inhibit: longer than a bus call's time-out.
const char* const kSlowPortalSeconds = "6";

struct InhibitorCase {
    const char* name;
    Service service;
    int button;     // the button that starts and stops the acquisitions
    int pairs;      // starts and stops
    Ending ending;  // after them: nothing more, a start and the close, or a start and SIGTERM
    const char* taken;  // what each inhibitor taken is, as the stand-in logs it
};

void PrintTo(const InhibitorCase& row, std::ostream* os) { *os << row.name; }

// Presses a button, then reads a field from this thread, a send that the dialog's thread serves:
// true if both were answered within half a second, whatever the bus services do meanwhile.
bool AnsweredPromptly(HWND dlg, int id) {
    const DWORD pressed = harness::Now();
    Press(dlg, id);
    harness::FieldText(dlg, IDC_COUNT);
    return harness::Now() - pressed < 500;
}

// In the child: the acquisitions of the case, checked against the stand-in's log as they go.
// Returns the child's exit code; each failure says on standard error what went wrong.
int RunAcquisitions(const InhibitorCase& row) {
    const int running = row.service == kNeither ? 0 : 1;
    // A start has reached the service: its inhibitor is held, or, the slow portal's, asked for
    // (it comes only after the stop).
    auto reached = [&] {
        const Inhibitors seen = ReadLog(getenv(kLogVariable));
        return row.service == kSlowPortal ? seen.asked > (int)seen.taken.size()
                                          : seen.held() == running;
    };
    const char* failure = nullptr;
    auto check = [&](bool ok, const char* what) {
        if (!ok && !failure) failure = what;
        return ok;
    };
    auto start = [&](HWND dlg) {
        return check(AnsweredPromptly(dlg, row.button),
                     "the dialog did not answer within 0.5 s of the start") &&
               check(harness::WaitFor(reached), "no inhibitor held while an acquisition runs");
    };
    measure::Run(
        [&](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
            for (int i = 0; i < row.pairs; ++i) {
                if (!start(dlg)) return;
                if (!check(AnsweredPromptly(dlg, row.button), "the stop was held back")) return;
                // Every start has taken its inhibitor, late or not, and the stop released it.
                auto settled = [&] {
                    const Inhibitors seen = ReadLog(getenv(kLogVariable));
                    return (int)seen.taken.size() == running * (i + 1) && seen.held() == 0;
                };
                if (!check(harness::WaitFor(settled, 10000),
                           "the inhibitor still held after the stop"))
                    return;
            }
            if (row.ending == kStop || !start(dlg)) return;
            if (row.ending == kSessionEnd) {
                kill(getpid(), SIGTERM);
                Sleep(10000);
                check(false, "the session's end did not end the process");
            }
        },
        60000);
    check(harness::WaitFor([] { return Held() == 0; }), "the inhibitor still held after the close");
    if (failure) fprintf(stderr, "%s\n", failure);
    return failure ? 1 : 0;
}

// Where neither service answers: the request still succeeds as on Windows, returning the
// previous state, and the layer says once, however often it is asked, that nothing keeps the
// system awake. It says so from a thread of its own, once both have refused while asked:
// standard error goes to a file, read until the words are there.
int RunWithoutService(const InhibitorCase& row) {
    const std::string err_path = std::string(getenv(kLogVariable)) + ".err";
    fflush(stderr);
    const int saved = dup(2);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err_fd, 2);
    close(err_fd);
    int code = RunAcquisitions(row);
    const bool requested = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) ==
                           ES_CONTINUOUS;
    const std::string said = "no desktop portal or logind to inhibit sleep";
    std::string err;
    int times = 0;
    harness::WaitFor([&] {
        std::ifstream in(err_path);
        err.assign(std::istreambuf_iterator<char>(in), {});
        times = 0;
        for (size_t at = err.find(said); at != std::string::npos; at = err.find(said, at + 1))
            times++;
        return times > 0;
    });
    const bool released = SetThreadExecutionState(ES_CONTINUOUS) ==
                          (ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    dup2(saved, 2);
    close(saved);
    unlink(err_path.c_str());
    fputs(err.c_str(), stderr);
    if (!requested || !released) {
        fprintf(stderr, "SetThreadExecutionState did not return the previous state\n");
        code = 1;
    }
    if (times != 1) {
        fprintf(stderr, "the missing services were reported %d times\n", times);
        code = 1;
    }
    return code;
}

class SleepInhibitor : public ::testing::TestWithParam<InhibitorCase> {
protected:
    // Starts a private bus with the row's stand-in, and points both buses of this process (and
    // so of its child) at it. In the child, the parent's bus is already in place.
    void SetUp() override {
        if (getenv(kLogVariable)) return;
        char dir_template[] = "/tmp/measure-inhibitor-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        const std::string config = dir_ + "/bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:tmpdir="
            << dir_
            << "</listen><policy context=\"default\"><allow send_destination=\"*\" "
               "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
               "</busconfig>\n";
        std::string address;
        // Quiet: it says that it may not raise its limit of open files.
        bus_ = Start({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"},
                     &address, true);
        ASSERT_GT(bus_, 0) << "dbus-daemon (Debian's dbus-daemon) did not start";
        ASSERT_FALSE(address.empty()) << "dbus-daemon gave no address";
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        log_ = dir_ + "/inhibitors.log";
        std::ofstream(log_).flush();
        setenv(kLogVariable, log_.c_str(), 1);
        if (GetParam().service == kNeither) return;
        std::vector<std::string> standin = {MEASURE_SLEEP_INHIBITOR_STANDIN,
                                            GetParam().service == kLogind ? "logind" : "portal",
                                            log_};
        if (GetParam().service == kSlowPortal) standin.push_back(kSlowPortalSeconds);
        std::string ready;
        standin_ = Start(standin, &ready);
        ASSERT_EQ(ready, "ready") << "the stand-in service did not start";
    }

    void TearDown() override {
        Stop(standin_);
        Stop(bus_);
        if (dir_.empty()) return;
        unsetenv(kLogVariable);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        unlink(log_.c_str());
        unlink((dir_ + "/bus.conf").c_str());
        rmdir(dir_.c_str());
    }

    std::string dir_, log_;
    pid_t bus_ = -1, standin_ = -1;
};

TEST_P(SleepInhibitor, IsHeldWhileAnAcquisitionRunsAndReleasedAtItsEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const InhibitorCase& row = GetParam();
    CreateDirectoryA("C:\\data", NULL);
    EXPECT_EXIT(
        {
            int code = row.service == kNeither ? RunWithoutService(row) : RunAcquisitions(row);
            fflush(nullptr);
            _exit(code);
        },
        ::testing::ExitedWithCode(0), "");
    const Inhibitors seen = ReadLog(log_);
    const size_t starts = row.pairs + (row.ending == kStop ? 0 : 1);
    EXPECT_EQ(seen.taken.size(), row.service == kNeither ? 0 : starts);
    for (const std::string& taken : seen.taken) EXPECT_EQ(taken, row.taken);
    EXPECT_EQ(seen.released, (int)seen.taken.size());
}

INSTANTIATE_TEST_SUITE_P(
    Each, SleepInhibitor,
    ::testing::Values(
        // A stop, then a close while running.
        InhibitorCase{"PortalAtStopAndClose", kPortal, IDC_DISPLAY, 1, kClose, "portal flags=4"},
        InhibitorCase{"PortalAtTheSessionsEnd", kPortal, IDC_DISPLAY, 0, kSessionEnd,
                      "portal flags=4"},
        InhibitorCase{"PortalHundredStartsAndStops", kPortal, IDC_DISPLAY, 100, kStop,
                      "portal flags=4"},
        // A portal that answers only after a bus call's time-out: the dialog answers meanwhile,
        // and the inhibitor that comes after the stop is let go at once.
        InhibitorCase{"SlowPortalAroundARecording", kSlowPortal, IDC_RECORD, 1, kStop,
                      "portal flags=4"},
        // Without a portal, logind's inhibitor, released by closing its descriptor.
        InhibitorCase{"LogindAtStopAndClose", kLogind, IDC_DISPLAY, 1, kClose,
                      "logind sleep block"},
        InhibitorCase{"Neither", kNeither, IDC_DISPLAY, 2, kClose, ""}),
    [](const ::testing::TestParamInfo<InhibitorCase>& info) { return info.param.name; });

}  // namespace
