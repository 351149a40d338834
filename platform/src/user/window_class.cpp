// Registered window classes: RegisterClassExA, UnregisterClassA, and the lookup that
// CreateWindowExA makes. Class names are case-insensitive.
#include <map>

#include "kernel/fold_case.h"
#include "user_private.h"

namespace w32 {
namespace {

struct ClassInfo {
    std::string name;  // as registered
    WNDPROC proc{};
};

struct Classes {
    std::mutex mutex;
    std::map<std::string, ClassInfo> by_name;  // by folded name
    ATOM next_atom = 0xC000;                   // where Win32's registered class atoms start
};

Classes& classes() {
    static Classes c;
    return c;
}

}  // namespace

bool find_class(const std::string& name, std::string* registered_name, WNDPROC* proc) {
    std::lock_guard<std::mutex> lock(classes().mutex);
    auto it = classes().by_name.find(fold_case(name));
    if (it == classes().by_name.end()) return false;
    *registered_name = it->second.name;
    *proc = it->second.proc;
    return true;
}

}  // namespace w32

extern "C" {

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
    using namespace w32;
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpszClassName ||
        IS_INTRESOURCE(lpwcx->lpszClassName) || !lpwcx->lpfnWndProc) {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(classes().mutex);
    const std::string key = fold_case(std::string(lpwcx->lpszClassName));
    if (classes().by_name.count(key)) {
        set_error(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    classes().by_name[key] = ClassInfo{lpwcx->lpszClassName, lpwcx->lpfnWndProc};
    return classes().next_atom++;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
    using namespace w32;
    if (!lpClassName || IS_INTRESOURCE(lpClassName)) {
        set_error(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(classes().mutex);
    if (classes().by_name.erase(fold_case(std::string(lpClassName))) == 0) {
        set_error(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
