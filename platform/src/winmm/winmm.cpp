// The multimedia timer's resolution (timeBeginPeriod, timeEndPeriod). The layer's timers are
// precise whatever is asked, so only Win32's books are kept: an end needs a begin of the same
// period. A part of its own, as winmm is a module of its own in Win32; it uses no other part.
#include <windows.h>

#include <map>
#include <mutex>

namespace {

// The resolutions asked for and not yet given back, by period.
std::mutex resolution_mutex;
std::map<UINT, int> resolutions_held;

}  // namespace

extern "C" {

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod) {
    if (uPeriod == 0) return TIMERR_NOCANDO;
    std::lock_guard<std::mutex> lock(resolution_mutex);
    ++resolutions_held[uPeriod];
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod) {
    std::lock_guard<std::mutex> lock(resolution_mutex);
    auto it = resolutions_held.find(uPeriod);
    if (it == resolutions_held.end()) return TIMERR_NOCANDO;
    if (--it->second == 0) resolutions_held.erase(it);
    return TIMERR_NOERROR;
}

}  // extern "C"
