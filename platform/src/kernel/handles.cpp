// Typed handle table and the per-thread last error.
#include "kernel/fault_hook.h"
#include "kernel_private.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace w32 {
namespace {

struct Entry {
    Kind kind;
    std::shared_ptr<Object> obj;
};

constexpr uint32_t kFirst = 0x100;
constexpr uint32_t kStep = 4;
constexpr uint32_t kEnd = 0x7FFFFFF0u;  // values stay positive as a LONG

struct Table {
    std::mutex mutex;
    std::unordered_map<uint32_t, Entry> entries;
    // The counter runs from `first` to below `end` (about 500 million values), then wraps.
    uint32_t first = kFirst;
    uint32_t end = kEnd;
    uint32_t next = kFirst;
};

// Never destroyed: a thread still running at process exit may look a handle up.
Table& table() {
    static Table* t = new Table;
    return *t;
}

uint32_t value_of(const void* h) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    return v > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v);
}

thread_local DWORD last_error = 0;

// Win32's answer when no handle can be made: kernel objects and windows say so; GDI, as Wine
// shows, leaves the error as it was.
void set_table_full_error(Kind kind) {
    switch (kind) {
        case Kind::Event:
        case Kind::Thread:
        case Kind::File:
        case Kind::Mutex:
        case Kind::Process:
            set_error(ERROR_NO_SYSTEM_RESOURCES);
            break;
        case Kind::Window:
            set_error(ERROR_NO_MORE_USER_HANDLES);
            break;
        default:
            break;
    }
}

}  // namespace

void* add_handle(Kind kind, std::shared_ptr<Object> obj) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    // Once the counter has wrapped it meets values still in use: those are passed over.
    for (uint32_t tries = (t.end - t.first) / kStep; tries > 0; --tries) {
        const uint32_t v = t.next;
        t.next = t.end - v <= kStep ? t.first : v + kStep;
        if (t.entries.count(v)) continue;
        t.entries.emplace(v, Entry{kind, std::move(obj)});
        return reinterpret_cast<void*>(static_cast<uintptr_t>(v));
    }
    set_table_full_error(kind);
    return nullptr;
}

std::shared_ptr<Object> find_handle(const void* h, Kind kind) {
    uint32_t v = value_of(h);
    if (v == 0)
        return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.find(v);
    if (it == t.entries.end() || it->second.kind != kind)
        return nullptr;
    return it->second.obj;
}

bool remove_handle(const void* h, Kind kind) {
    uint32_t v = value_of(h);
    Table& t = table();
    std::shared_ptr<Object> doomed;  // released outside the lock: destructors may take handles
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.entries.find(v);
        if (it == t.entries.end() || it->second.kind != kind)
            return false;
        doomed = std::move(it->second.obj);
        t.entries.erase(it);
    }
    return true;
}

bool kind_of(const void* h, Kind* kind) {
    uint32_t v = value_of(h);
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.find(v);
    if (it == t.entries.end())
        return false;
    *kind = it->second.kind;
    return true;
}

std::vector<void*> handles_of(Kind kind) {
    std::vector<void*> out;
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        for (const auto& e : t.entries)
            if (e.second.kind == kind) out.push_back(reinterpret_cast<void*>(uintptr_t{e.first}));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::size_t count_handles(Kind kind) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::size_t n = 0;
    for (const auto& entry : t.entries) {
        if (entry.second.kind == kind) ++n;
    }
    return n;
}

void set_error(DWORD code) { last_error = code; }

#ifdef W32_FAULT_INJECTION
void faults::HandleRing(DWORD n) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    uint32_t top = kFirst - kStep;
    for (const auto& e : t.entries) top = std::max(top, e.first);
    t.first = t.next = top + kStep;
    t.end = static_cast<uint32_t>(std::min<uint64_t>(t.first + uint64_t{n} * kStep, kEnd));
}

void end_handle_ring() {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.first = kFirst;
    t.end = kEnd;
}
#endif

}  // namespace w32

extern "C" {

DWORD WINAPI GetLastError(void) { return w32::last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { w32::last_error = dwErrCode; }

}
