// The performance counter and the tick count, both over the monotonic clock.
#include <time.h>

#include "kernel_private.h"

namespace w32 {
namespace {

const LONGLONG nanoseconds_per_second = 1000000000;

}  // namespace

long long monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * nanoseconds_per_second + ts.tv_nsec;
}

}  // namespace w32

extern "C" {

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (!lpPerformanceCount) {
        w32::set_error(ERROR_NOACCESS);
        return FALSE;
    }
    lpPerformanceCount->QuadPart = w32::monotonic_ns();
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    if (!lpFrequency) {
        w32::set_error(ERROR_NOACCESS);
        return FALSE;
    }
    lpFrequency->QuadPart = w32::nanoseconds_per_second;
    return TRUE;
}

// Milliseconds since an arbitrary start, wrapping after 49.7 days as Win32's does.
DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(w32::monotonic_ns() / 1000000); }

}  // extern "C"
