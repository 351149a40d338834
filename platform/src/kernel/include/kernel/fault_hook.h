// Planned failures of chosen calls, for the tests (kernel/faults.cpp, compiled into w32_testing
// only). W32_FAULT(call, name, result) makes the calling function return `result`, its error set,
// when a test has planned a failure of that call; in the shipped library it is nothing at all.
#pragma once

#include <windows.h>

#ifdef W32_FAULT_INJECTION
#include "w32_faults.h"

namespace w32 {
// `bytes`, given for WriteFile, is cut to what a failing write lets through before it fails.
bool inject_fault(faults::Call call, const char* name, DWORD* bytes = nullptr);
}  // namespace w32

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
