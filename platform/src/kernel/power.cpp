// Power requests. A thread that asks the system to stay awake (SetThreadExecutionState with
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED) makes the layer hold a sleep inhibitor of the desktop for as
// long as any thread asks: the XDG desktop portal's on the session bus, or, where there is no
// portal, logind's on the system bus. The calls only note what is wanted: a thread of the layer's
// own takes and releases the inhibitor, with asynchronous bus calls, so that a slow desktop
// service never holds up the thread that asked (the dialog's). The power throttling of
// SetProcessInformation has nothing to act on here (Linux timers are not throttled so): its
// state is only kept, for GetProcessInformation.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "kernel_private.h"

namespace w32 {
namespace {

// The flags Win32 knows; others make the call fail.
const EXECUTION_STATE known_execution_flags = ES_CONTINUOUS | ES_SYSTEM_REQUIRED |
                                              0x00000002 /* ES_DISPLAY_REQUIRED */ |
                                              0x00000004 /* ES_USER_PRESENT */ |
                                              0x00000040 /* ES_AWAYMODE_REQUIRED */;
const ULONG known_throttling_flags =
    0x1 /* PROCESS_POWER_THROTTLING_EXECUTION_SPEED */ |
    PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;

const int bus_timeout_ms = 5000;
const uint portal_inhibit_suspend = 4;
const char* const portal_service = "org.freedesktop.portal.Desktop";
const char* const inhibit_reason = "A running task asked that the system stay awake";

// Guards what the threads want and what the power thread has done about it, and the throttling
// state. Never held across a bus call.
std::mutex& power_mutex() {
    static std::mutex m;
    return m;
}

// Signalled when the power thread has caught up with what is wanted. Never destroyed: the
// process's exit waits on it.
std::condition_variable& power_settled_cv() {
    static auto* cv = new std::condition_variable;
    return *cv;
}

// Guarded by power_mutex().
int threads_keeping_awake = 0;
bool power_settled = true;  // nothing held that is not wanted, no call on its way
bool power_ending = false;  // the process ends: the inhibitor goes, whoever still asks

// Caller holds power_mutex().
bool awake_wanted_locked() { return threads_keeping_awake > 0 && !power_ending; }

bool awake_wanted() {
    std::lock_guard<std::mutex> lock(power_mutex());
    return awake_wanted_locked();
}

// The desktop's sleep inhibitor, on the power thread, which only it uses. Nothing there waits for
// an answer: each answer comes back as an event of the thread's loop, and every event converges
// what is held on what the process's threads want. An answer that comes when nobody wants it any
// more, however late, is let go at once.
class SleepInhibitor : public QObject {
public:
    SleepInhibitor() {
        // A portal that has not answered by then counts as none: logind is asked.
        patience_.setSingleShot(true);
        patience_.setInterval(bus_timeout_ms);
        connect(&patience_, &QTimer::timeout, this, [this] {
            portal_overdue_ = true;
            converge();
        });
    }

    void converge() {
        const bool want = awake_wanted();
        if (want)
            take();
        else
            release();
        const bool asking = portal_asked_ || logind_asked_ || closes_asked_ > 0;
        const bool done = !asking && (want ? held() || (portal_tried_ && logind_tried_) : !held());
        std::lock_guard<std::mutex> lock(power_mutex());
        // A change since `want` was read has posted another convergence.
        if (awake_wanted_locked() != want) return;
        power_settled = done;
        if (done) power_settled_cv().notify_all();
    }

private:
    bool held() const { return !portal_request_.isEmpty() || logind_fd_.isValid(); }

    // The portal first; logind where there is none, or where it has not answered in time.
    void take() {
        if (held() || logind_asked_ || (portal_asked_ && !portal_overdue_)) return;
        if (!portal_tried_ && !portal_asked_) {
            portal_tried_ = true;
            if (ask_portal()) return;
        }
        if (!logind_tried_) {
            logind_tried_ = true;
            if (ask_logind()) return;
        }
        if (said_none_) return;
        said_none_ = true;
        std::fprintf(stderr,
                     "%s: no desktop portal or logind to inhibit sleep: the system may sleep "
                     "while a task runs\n",
                     program_invocation_short_name);
    }

    void release() {
        portal_tried_ = logind_tried_ = false;
        if (!portal_request_.isEmpty()) {
            call(QDBusConnection::sessionBus(),
                 QDBusMessage::createMethodCall(portal_service, portal_request_,
                                                "org.freedesktop.portal.Request", "Close"),
                 bus_timeout_ms, [this](const QDBusMessage&) { closes_asked_--; });
            closes_asked_++;
            portal_request_.clear();
        }
        // logind holds its inhibitor until the last copy of this descriptor is closed.
        logind_fd_ = QDBusUnixFileDescriptor();
    }

    // The portal's answer has no time-out: however late it comes, it names a request that can
    // then be closed.
    bool ask_portal() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        QDBusMessage inhibit = QDBusMessage::createMethodCall(
            portal_service, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Inhibit",
            "Inhibit");
        inhibit << QString() << portal_inhibit_suspend
                << QVariantMap{{"reason", QString(inhibit_reason)}};
        call(bus, inhibit, INT_MAX /* libdbus: none */, [this](const QDBusMessage& reply) {
            portal_asked_ = portal_overdue_ = false;
            patience_.stop();
            if (!answered(reply)) return;
            portal_request_ = qdbus_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
            // One inhibitor is enough: the portal's, where logind's came first.
            if (!portal_request_.isEmpty()) logind_fd_ = QDBusUnixFileDescriptor();
        });
        portal_asked_ = true;
        patience_.start();
        return true;
    }

    // A late answer of logind's is dropped by the bus library, and its descriptor with it, which
    // releases that inhibitor.
    bool ask_logind() {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) return false;
        QDBusMessage inhibit =
            QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "Inhibit");
        inhibit << QString("sleep") << QString(program_invocation_short_name)
                << QString(inhibit_reason) << QString("block");
        call(bus, inhibit, bus_timeout_ms, [this](const QDBusMessage& reply) {
            logind_asked_ = false;
            if (answered(reply) && portal_request_.isEmpty())
                logind_fd_ = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().at(0));
        });
        logind_asked_ = true;
        return true;
    }

    static bool answered(const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1;
    }

    // Sends a call; its answer (or error) comes back on this thread, to `on_answer`, and then
    // the held inhibitors converge again.
    template <class OnAnswer>
    void call(const QDBusConnection& bus, const QDBusMessage& message, int timeout_ms,
              OnAnswer on_answer) {
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeout_ms), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, on_answer] {
            watcher->deleteLater();
            on_answer(watcher->reply());
            converge();
        });
    }

    QString portal_request_;             // the portal's request object while it inhibits
    QDBusUnixFileDescriptor logind_fd_;  // logind's inhibitor, while valid
    bool portal_asked_ = false;          // an Inhibit is on its way to the portal
    bool portal_overdue_ = false;        // ... and has had its time
    bool logind_asked_ = false;
    int closes_asked_ = 0;               // portal requests being closed
    bool portal_tried_ = false, logind_tried_ = false;  // since the inhibitor was last wanted
    bool said_none_ = false;
    QTimer patience_{this};
};

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

// The power thread, with its inhibitor; started by the first request. Never destroyed: the
// process may end while they run. Guarded by power_mutex().
QThread* power_thread = nullptr;
SleepInhibitor* inhibitor = nullptr;

void finish_at_exit() { finish_power_requests(); }

// Has the power thread converge on what is now wanted. Caller holds power_mutex().
void post_convergence() {
    power_settled = false;
    if (!inhibitor) {
        // The process's exit lets go of the inhibitor while Qt's bus connections are still
        // there. Qt cleans them up at exit through an object made on their first use: made now
        // (a look-up of a connection by name, with no bus traffic), it goes after this handler.
        QDBusConnection(QStringLiteral("w32 power"));
        std::atexit(finish_at_exit);
        power_thread = new QThread;
        power_thread->setObjectName("w32 power");
        inhibitor = new SleepInhibitor;
        inhibitor->moveToThread(power_thread);
        power_thread->start();
    }
#if defined(__SANITIZE_THREAD__)
    // The call's event is made here and deleted by the power thread once delivered, through
    // Qt's event queue, whose lock ThreadSanitizer cannot see: neither is a race of ours.
    __tsan_ignore_thread_begin();
#endif
    QMetaObject::invokeMethod(inhibitor, [] { inhibitor->converge(); }, Qt::QueuedConnection);
#if defined(__SANITIZE_THREAD__)
    __tsan_ignore_thread_end();
#endif
}

// A thread's continuous execution state, as its last ES_CONTINUOUS call set it. A thread that
// ends while asking keeps the inhibitor until the process ends.
thread_local EXECUTION_STATE thread_execution_state = 0;

PROCESS_POWER_THROTTLING_STATE process_throttling{PROCESS_POWER_THROTTLING_CURRENT_VERSION, 0, 0};

// The checks both calls make on their arguments; false with the error set.
bool check_throttling_call(HANDLE process, PROCESS_INFORMATION_CLASS info_class,
                           const void* info, DWORD size) {
    if (process != GetCurrentProcess()) {
        set_error(ERROR_INVALID_HANDLE);
        return false;
    }
    if (info_class != ProcessPowerThrottling || !info ||
        size != sizeof(PROCESS_POWER_THROTTLING_STATE) ||
        static_cast<const PROCESS_POWER_THROTTLING_STATE*>(info)->Version !=
            PROCESS_POWER_THROTTLING_CURRENT_VERSION) {
        set_error(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

void finish_power_requests() {
    QThread* thread;
    {
        std::unique_lock<std::mutex> lock(power_mutex());
        if (!inhibitor || power_ending) return;
        power_ending = true;
        post_convergence();
        power_settled_cv().wait_for(lock, std::chrono::milliseconds(bus_timeout_ms),
                                    [] { return power_settled; });
        thread = power_thread;
    }
    // Nothing more for the thread to do: it stops before the bus connections go.
    thread->quit();
    thread->wait(QDeadlineTimer(bus_timeout_ms));
}

}  // namespace w32

extern "C" {

// Returns the thread's previous state, which always includes ES_CONTINUOUS as on Windows, or 0
// for flags Win32 does not know.
EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE esFlags) {
    using namespace w32;
    if (esFlags & ~known_execution_flags) {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const EXECUTION_STATE previous = thread_execution_state | ES_CONTINUOUS;
    // Without ES_CONTINUOUS the call only resets the idle timers once: the inhibitor stays as
    // it is.
    if (!(esFlags & ES_CONTINUOUS)) return previous;
    const bool was_awake = thread_execution_state & ES_SYSTEM_REQUIRED;
    const bool awake = esFlags & ES_SYSTEM_REQUIRED;
    thread_execution_state = esFlags & ~ES_CONTINUOUS;
    if (awake != was_awake) {
        std::lock_guard<std::mutex> lock(power_mutex());
        const bool wanted = awake_wanted_locked();
        threads_keeping_awake += awake ? 1 : -1;
        if (awake_wanted_locked() != wanted && !power_ending) post_convergence();
    }
    return previous;
}

// The mechanisms in the control mask are set on or off by the state mask; the others are left
// to the system. A call replaces the previous one.
BOOL WINAPI SetProcessInformation(HANDLE hProcess, PROCESS_INFORMATION_CLASS ProcessInformationClass,
                                  LPVOID ProcessInformation, DWORD ProcessInformationSize) {
    using namespace w32;
    if (!check_throttling_call(hProcess, ProcessInformationClass, ProcessInformation,
                               ProcessInformationSize))
        return FALSE;
    const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(ProcessInformation);
    if ((state->ControlMask & ~known_throttling_flags) ||
        (state->StateMask & ~state->ControlMask)) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(power_mutex());
    process_throttling = *state;
    return TRUE;
}

BOOL WINAPI GetProcessInformation(HANDLE hProcess, PROCESS_INFORMATION_CLASS ProcessInformationClass,
                                  LPVOID ProcessInformation, DWORD ProcessInformationSize) {
    using namespace w32;
    if (!check_throttling_call(hProcess, ProcessInformationClass, ProcessInformation,
                               ProcessInformationSize))
        return FALSE;
    std::lock_guard<std::mutex> lock(power_mutex());
    *static_cast<PROCESS_POWER_THROTTLING_STATE*>(ProcessInformation) = process_throttling;
    return TRUE;
}

}  // extern "C"
