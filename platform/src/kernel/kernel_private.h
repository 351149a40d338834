// Private header of the kernel part: what its files (handles, events, threads, files) share.
#pragma once

#include "kernel/objects.h"

namespace w32 {

// An object that WaitForSingleObject can wait on (events, threads). Guarded by sync_mutex().
struct Waitable : Object {
    bool signalled = false;
    bool manual_reset = true;
};

// WaitForSingleObject on a mutex (mutex.cpp): only there can a mutex be waited on.
DWORD wait_mutex(HANDLE h, DWORD ms);

}  // namespace w32
