// Planned failures for tests (compiled into w32_testing only): each hooked call asks here first.
#include "w32_faults.h"

#include <mutex>

#include "layer.h"

namespace w32 {
namespace faults {
namespace {

struct Plan {
    int skip = 0;
    int count = 0;
    DWORD error = 0;
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

}  // namespace

void Fail(Call call, int skip, int count, DWORD error) {
    std::lock_guard<std::mutex> lock(plan_mutex());
    Plan& p = plan(call);
    p.skip = skip;
    p.count = count;
    p.error = error;
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

bool inject_fault(faults::Call call, const char* name) {
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
            error = p.error;
        }
    }
    if (before) before(name);
    if (every) every(name);
    if (!error) return false;
    set_error(error);
    return true;
}

}  // namespace w32
