// Planned failures for tests (compiled into w32_testing only): each hooked call asks here first.
#include "w32_faults.h"

#include <mutex>

#include "kernel/fault_hook.h"
#include "kernel/objects.h"

namespace w32 {
namespace faults {
namespace {

struct Plan {
    int skip = 0;
    int count = 0;
    DWORD error = 0;
    DWORD bytes = 0;  // what each failing WriteFile writes first
    int calls = 0;
    Hook before;
    Hook every;
};

std::mutex& plan_mutex() {
    static std::mutex m;
    return m;
}

Plan& plan(Call call) {
    static Plan plans[static_cast<int>(Call::Count)];
    return plans[static_cast<int>(call)];
}

void set_plan(Call call, int skip, int count, DWORD error, DWORD bytes) {
    std::lock_guard<std::mutex> lock(plan_mutex());
    Plan& p = plan(call);
    p.skip = skip;
    p.count = count;
    p.error = error;
    p.bytes = bytes;
}

}  // namespace

void Fail(Call call, int skip, int count, DWORD error) { set_plan(call, skip, count, error, 0); }

void FillDisk(int skip, int count, DWORD bytes) {
    set_plan(Call::WriteFile, skip, count, ERROR_DISK_FULL, bytes);
}

void ShortWrite(int skip, int count, DWORD bytes) {
    set_plan(Call::WriteFile, skip, count, ERROR_SUCCESS, bytes);
}

void Before(Call call, Hook fn) {
    std::lock_guard<std::mutex> lock(plan_mutex());
    plan(call).before = std::move(fn);
}

void Every(Call call, Hook fn) {
    std::lock_guard<std::mutex> lock(plan_mutex());
    plan(call).every = std::move(fn);
}

void Reset() {
    std::lock_guard<std::mutex> lock(plan_mutex());
    for (int i = 0; i < static_cast<int>(Call::Count); ++i) plan(static_cast<Call>(i)) = Plan{};
    end_handle_ring();
}

int Calls(Call call) {
    std::lock_guard<std::mutex> lock(plan_mutex());
    return plan(call).calls;
}

}  // namespace faults

bool inject_fault(faults::Call call, const char* name, DWORD* bytes) {
    faults::Hook before, every;
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> lock(faults::plan_mutex());
        faults::Plan& p = faults::plan(call);
        ++p.calls;
        before.swap(p.before);
        every = p.every;
        if (p.skip > 0) {
            --p.skip;
        } else if (p.count > 0) {
            --p.count;
            // Without an error (ShortWrite) the call only gets fewer bytes, and succeeds.
            error = p.error;
            if (bytes && *bytes > p.bytes) *bytes = p.bytes;
        }
    }
    if (before) before(name);
    if (every) every(name);
    if (!error) return false;
    set_error(error);
    return true;
}

}  // namespace w32
