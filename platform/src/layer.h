// What every part of the stand-in layer shares. The parts stand in for Win32's modules, each
// in a folder with a private header: kernel/ (handles, events, threads, files, the clock,
// modules and resources, power requests), user/ (windows, messages, dialogs, controls, keyboard, timers), gdi/ (drawing)
// and winmm/ (the timer resolution). What one part may use of another is in that part's
// interface header: kernel/objects.h, gdi/dc.h. user/ uses both, gdi/ the kernel's, and the
// kernel nothing. Nothing outside platform/ includes these files.
#pragma once

#include <windows.h>

namespace w32 {

// ---- names, for every file ----

// Win32 matches class, resource and file names whatever their letter case: the layer compares
// them folded to lower case. Only ASCII letters fold; other UTF-8 or UTF-16 units stay.
template <class Text>
Text fold_case(Text s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename Text::value_type>(c - 'A' + 'a');
    return s;
}

// ---- faults.cpp (test builds only): planned failures of chosen calls ----
// W32_FAULT(call, name, result) makes the calling function return `result`, its error set, when a
// test has planned a failure of that call; in the shipped library it is nothing at all.
#ifdef W32_FAULT_INJECTION
}  // namespace w32
#include "w32_faults.h"
namespace w32 {
// `bytes`, given for WriteFile, is cut to what a failing write lets through before it fails.
bool inject_fault(faults::Call call, const char* name, DWORD* bytes = nullptr);
#define W32_FAULT(call, name, result) \
    do { \
        if (::w32::inject_fault(::w32::faults::Call::call, name)) return result; \
    } while (0)
// WriteFile's: true when this write is to fail, its error set and `*bytes` cut to what it
// writes first.
#define W32_WRITE_FAULT(bytes) ::w32::inject_fault(::w32::faults::Call::WriteFile, nullptr, bytes)
#else
#define W32_FAULT(call, name, result) \
    do { \
    } while (0)
#define W32_WRITE_FAULT(bytes) false
#endif

}  // namespace w32
