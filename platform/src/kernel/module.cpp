// Modules: the program's own image, and kernel32, whose newer calls a program looks up at run time
// (GetModuleHandleA, GetProcAddress).
#include <cstring>
#include <string>

#include "kernel/fold_case.h"
#include "kernel_private.h"

namespace w32 {
namespace {

// Image bases as Win32 gives them: the program's, and a system library's higher up.
const uintptr_t program_base = 0x400000;
const uintptr_t kernel32_base = 0x7B000000;

HMODULE module_at(uintptr_t base) { return reinterpret_cast<HMODULE>(base); }

// A module name as Win32 matches it: any letter case, ".dll" implied when there is no extension.
bool names_kernel32(const char* name) {
    const std::string folded = fold_case(std::string(name));
    return folded == "kernel32" || folded == "kernel32.dll";
}

struct Export {
    const char* name;
    FARPROC proc;
};

// Win32 hands every call out as a FARPROC, which the caller casts back to its real type.
template <class Fn>
FARPROC as_farproc(Fn* fn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

// The calls of kernel32 that a program may look up by name instead of importing them, because
// older versions of Windows lack them.
const Export kernel32_exports[] = {
    {"SetProcessInformation", as_farproc(&SetProcessInformation)},
    {"GetProcessInformation", as_farproc(&GetProcessInformation)},
};

}  // namespace
}  // namespace w32

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    using namespace w32;
    if (!lpModuleName) return module_at(program_base);
    if (names_kernel32(lpModuleName)) return module_at(kernel32_base);
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// Names match exactly, as Win32's do; a name given as an ordinal (a value below 0x10000) finds
// nothing here.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    using namespace w32;
    if (!hModule) hModule = module_at(program_base);  // NULL is the program's own image
    const bool by_name = reinterpret_cast<uintptr_t>(lpProcName) > 0xFFFF;
    if (hModule == module_at(kernel32_base) && by_name) {
        for (const Export& e : kernel32_exports)
            if (std::strcmp(e.name, lpProcName) == 0) return e.proc;
    }
    set_error(hModule == module_at(program_base) || hModule == module_at(kernel32_base)
                  ? ERROR_PROC_NOT_FOUND
                  : ERROR_MOD_NOT_FOUND);
    return nullptr;
}

}  // extern "C"
