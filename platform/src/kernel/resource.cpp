// The module's resources: the .res file that windres compiles from the program's resource
// script, embedded by the build, and the kernel32 calls that find and load its entries.
#include <QString>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/fold_case.h"
#include "kernel_private.h"

// The compiled resources, embedded by the build: generated/<target>.cpp in the build folder,
// which measure_add_resources makes for the program and for the platform tests.
extern const unsigned char w32_resource_data[];
extern const size_t w32_resource_size;

namespace w32 {
namespace {

// A type or a name: a number, or a string folded to lower case (windres stores names in upper
// case, and FindResourceA finds them whatever case its caller writes).
struct Key {
    bool is_number = false;
    WORD number = 0;
    std::u16string text;

    bool operator==(const Key& o) const {
        return is_number == o.is_number && (is_number ? number == o.number : text == o.text);
    }
};

struct Entry {
    Key type;
    Key name;
    const unsigned char* data = nullptr;
    DWORD size = 0;
};

// The handles of this file are small tagged numbers: HRSRC and HGLOBAL of entry i.
constexpr uintptr_t kResourceTag = 0x52530000;

WORD word_at(const unsigned char* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD dword_at(const unsigned char* p) {
    return static_cast<DWORD>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<DWORD>(p[3]) << 24;
}

// Reads a type or name field of a resource header at `p` (within [p, end)); advances p past it.
bool read_key(const unsigned char*& p, const unsigned char* end, Key* key) {
    if (end - p < 2) return false;
    if (word_at(p) == 0xFFFF) {
        if (end - p < 4) return false;
        key->is_number = true;
        key->number = word_at(p + 2);
        p += 4;
        return true;
    }
    for (; end - p >= 2; p += 2) {
        char16_t c = static_cast<char16_t>(word_at(p));
        if (c == 0) {
            key->text = fold_case(key->text);
            p += 2;
            return true;
        }
        key->text += c;
    }
    return false;
}

// Every entry of the .res file: a header (sizes, type, name, flags, language), then the data,
// each padded to four bytes. The first entry is the file's empty marker.
std::vector<Entry> read_resources(const unsigned char* base, size_t size) {
    std::vector<Entry> out;
    const unsigned char* end = base + size;
    for (const unsigned char* p = base; end - p >= 8;) {
        DWORD data_size = dword_at(p);
        DWORD header_size = dword_at(p + 4);
        if (header_size < 8 || header_size > size_t(end - p) ||
            data_size > size_t(end - p) - header_size)
            break;
        const unsigned char* field = p + 8;
        const unsigned char* header_end = p + header_size;
        Entry e;
        if (!read_key(field, header_end, &e.type) || !read_key(field, header_end, &e.name)) break;
        e.data = header_end;
        e.size = data_size;
        if (!(e.type.is_number && e.type.number == 0)) out.push_back(std::move(e));
        size_t step = (size_t(header_size) + data_size + 3) & ~size_t(3);
        if (step > size_t(end - p)) break;
        p += step;
    }
    return out;
}

const std::vector<Entry>& resources() {
    static const std::vector<Entry> entries = read_resources(w32_resource_data, w32_resource_size);
    return entries;
}

// What FindResourceA makes of a name or type: a number given as MAKEINTRESOURCE or "#123",
// else the string, folded. Strings are 8-bit UTF-8 here, widened as the ANSI call does.
Key key_of(LPCSTR s) {
    Key k;
    if (IS_INTRESOURCE(s)) {
        k.is_number = true;
        k.number = LOWORD(s);
        return k;
    }
    if (s[0] == '#') {
        k.is_number = true;
        k.number = static_cast<WORD>(std::strtoul(s + 1, nullptr, 10));
        return k;
    }
    k.text = fold_case(QString::fromUtf8(s).toStdU16String());
    return k;
}

bool is_own_module(HMODULE module) { return !module || module == GetModuleHandleA(nullptr); }

const Entry* entry_of(uintptr_t handle) {
    const std::vector<Entry>& all = resources();
    if ((handle & 0xFFFF0000u) != kResourceTag) return nullptr;
    size_t i = handle & 0xFFFFu;
    return i < all.size() ? &all[i] : nullptr;
}

}  // namespace
}  // namespace w32

extern "C" {

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    using namespace w32;
    if (!is_own_module(hModule)) {
        set_error(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (!lpName || !lpType) {
        set_error(lpType ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    const Key type = key_of(lpType);
    const Key name = key_of(lpName);
    const std::vector<Entry>& all = resources();
    bool type_found = false;
    for (size_t i = 0; i < all.size(); ++i) {
        if (!(all[i].type == type)) continue;
        type_found = true;
        if (all[i].name == name) return reinterpret_cast<HRSRC>(kResourceTag | i);
    }
    set_error(type_found ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    using namespace w32;
    if (!is_own_module(hModule) || !entry_of(reinterpret_cast<uintptr_t>(hResInfo))) {
        set_error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(hResInfo);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    const w32::Entry* e = w32::entry_of(reinterpret_cast<uintptr_t>(hResData));
    return e ? const_cast<unsigned char*>(e->data) : nullptr;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    using namespace w32;
    const Entry* e = entry_of(reinterpret_cast<uintptr_t>(hResInfo));
    if (!is_own_module(hModule) || !e) {
        set_error(ERROR_INVALID_HANDLE);
        return 0;
    }
    return e->size;
}

}  // extern "C"
