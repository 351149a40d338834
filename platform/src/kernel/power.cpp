// Power requests. A thread that asks the system to stay awake (SetThreadExecutionState with
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED) makes the layer hold a sleep inhibitor of the desktop for as
// long as any thread asks: the XDG desktop portal's on the session bus, or, where there is no
// portal, logind's on the system bus. The power throttling of SetProcessInformation has nothing
// to act on here (Linux timers are not throttled so): its state is only kept, for
// GetProcessInformation.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "kernel.h"

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

// A sleep inhibitor of the desktop, taken and released by blocking calls on the calling thread.
class SleepInhibitor {
public:
    void take() {
        if (take_from_portal() || take_from_logind()) return;
        if (said_none_) return;
        said_none_ = true;
        std::fprintf(stderr,
                     "%s: no desktop portal or logind to inhibit sleep: the system may sleep "
                     "while a task runs\n",
                     program_invocation_short_name);
    }

    void release() {
        if (!portal_request_.isEmpty()) {
            QDBusMessage close = QDBusMessage::createMethodCall(
                portal_service, portal_request_, "org.freedesktop.portal.Request", "Close");
            QDBusConnection::sessionBus().call(close, QDBus::Block, bus_timeout_ms);
            portal_request_.clear();
        }
        // logind holds its inhibitor until the last copy of this descriptor is closed.
        logind_fd_ = QDBusUnixFileDescriptor();
    }

private:
    bool take_from_portal() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        QDBusMessage inhibit = QDBusMessage::createMethodCall(
            portal_service, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Inhibit",
            "Inhibit");
        inhibit << QString() << portal_inhibit_suspend
                << QVariantMap{{"reason", QString(inhibit_reason)}};
        const QDBusMessage reply = bus.call(inhibit, QDBus::Block, bus_timeout_ms);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
            return false;
        portal_request_ = qdbus_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
        return !portal_request_.isEmpty();
    }

    bool take_from_logind() {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) return false;
        QDBusMessage inhibit =
            QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "Inhibit");
        inhibit << QString("sleep") << QString(program_invocation_short_name)
                << QString(inhibit_reason) << QString("block");
        const QDBusMessage reply = bus.call(inhibit, QDBus::Block, bus_timeout_ms);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
            return false;
        logind_fd_ = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().at(0));
        return logind_fd_.isValid();
    }

    QString portal_request_;             // the portal's request object while it inhibits
    QDBusUnixFileDescriptor logind_fd_;  // logind's inhibitor, while valid
    bool said_none_ = false;
};

// Guards the count and the inhibitor: a request and a release never overlap.
std::mutex& power_mutex() {
    static std::mutex m;
    return m;
}

// Never destroyed: a thread may still let go while the process exits.
SleepInhibitor& inhibitor() {
    static auto* i = new SleepInhibitor;
    return *i;
}

int threads_keeping_awake = 0;

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
        if (awake && threads_keeping_awake++ == 0) inhibitor().take();
        if (!awake && --threads_keeping_awake == 0) inhibitor().release();
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
