// Test builds only (library w32_testing): makes chosen calls of the layer fail on purpose, so
// that tests can see how the program reports and survives failures it cannot otherwise provoke.
// The shipped program links the library w32, which has no trace of this.
#pragma once

#include <windows.h>

#include <functional>

namespace w32 {
namespace faults {

// Ellipse's hook runs while the call holds its DC. DcInUse is no call: it counts the GDI calls
// refused because another thread was using their DC.
enum class Call {
    CreateEventA,
    SetTimer,
    CreateFileA,
    WriteFile,
    SetFilePointer,
    Ellipse,
    DcInUse,
    Count
};

// After `skip` more calls of `call` that go through, the next `count` calls fail, each setting
// `error` as the thread's last error.
void Fail(Call call, int skip, int count, DWORD error);
// As Fail(Call::WriteFile, skip, count, ERROR_DISK_FULL), as on a disk that fills up in the
// middle of a write: each failing write first writes up to `bytes` bytes of its buffer and
// reports them written.
void FillDisk(int skip, int count, DWORD bytes);
// As FillDisk, but each of those writes reports success, with `bytes` or fewer written and the
// thread's last error untouched: a write that comes up short without saying why.
void ShortWrite(int skip, int count, DWORD bytes);
// What a hook is given: the file name of a CreateFileA, else nullptr.
using Hook = std::function<void(const char* name)>;
// Runs `fn` once, on whichever thread makes the next call of `call`, before that call proceeds.
void Before(Call call, Hook fn);
// Runs `fn` at every call of `call`, on the calling thread, before the call proceeds.
void Every(Call call, Hook fn);
// Forgets every planned failure and hook.
void Reset();
// Calls of `call` made since the last Reset.
int Calls(Call call);

// Until Reset, the handle table hands out only `n` values, all above every handle now open, and
// wraps among them: a test meets the wrap of its counter, and a full table, within n handles.
void HandleRing(DWORD n);

}  // namespace faults
}  // namespace w32
