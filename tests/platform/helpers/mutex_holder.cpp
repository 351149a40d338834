// A process that owns a named mutex, for the conformance tests of mutexes across processes.
// It takes the mutex <name>, then waits until it can take the mutex <go> as well (the test owns
// it and releases it when the holder is to go on), then ends: with `release` after releasing
// both, with `keep` without releasing either (the process's end abandons them).
// Usage: mutex_holder <name> <go> release|keep
// Exit code: 0, or 1 for wrong usage or a mutex that could not be made or taken.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    HANDLE held = CreateMutexA(NULL, FALSE, argv[1]);
    HANDLE go = CreateMutexA(NULL, FALSE, argv[2]);
    if (!held || !go || WaitForSingleObject(held, INFINITE) != WAIT_OBJECT_0) return 1;
    const DWORD r = WaitForSingleObject(go, INFINITE);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return 1;
    if (strcmp(argv[3], "release") == 0) {
        ReleaseMutex(go);
        ReleaseMutex(held);
    }
    return 0;
}
