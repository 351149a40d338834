// Typed handle table and the per-thread last error.
#include "layer.h"

#include <cstdint>
#include <unordered_map>

namespace w32 {
namespace {

struct Entry {
    Kind kind;
    std::shared_ptr<Object> obj;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<uint32_t, Entry> entries;
    uint32_t next = 0x100;
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

}  // namespace

void* add_handle(Kind kind, std::shared_ptr<Object> obj) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    uint32_t v = t.next;
    t.next += 4;
    if (t.next >= 0x7FFFFFF0u)  // keep values positive as a LONG; wraps after ~500 million handles
        t.next = 0x100;
    t.entries[v] = Entry{kind, std::move(obj)};
    return reinterpret_cast<void*>(static_cast<uintptr_t>(v));
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

}  // namespace w32

extern "C" {

DWORD WINAPI GetLastError(void) { return w32::last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { w32::last_error = dwErrCode; }

}
