// Test builds only (library w32_testing): makes chosen calls of the layer fail on purpose, so
// that tests can see how the program reports and survives failures it cannot otherwise provoke.
// The shipped program links the library w32, which has no trace of this.
#pragma once

#include <windows.h>

#include <functional>

namespace w32 {
namespace faults {

enum class Call { CreateEventA, SetTimer, CreateFileA, WriteFile, SetFilePointer, Count };

// After `skip` more calls of `call` that go through, the next `count` calls fail, each setting
// `error` as the thread's last error.
void Fail(Call call, int skip, int count, DWORD error);
// As Fail(Call::WriteFile, skip, count, ERROR_DISK_FULL), as on a disk that fills up in the
// middle of a write: each failing write first writes up to `bytes` bytes of its buffer and
// reports them written.
void FillDisk(int skip, int count, DWORD bytes);
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

}  // namespace faults
}  // namespace w32
