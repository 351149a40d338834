// A viewer in a process of its own, for the tests: follows a file as it grows, as a tail tool
// does. It opens the file for reading, sharing reading and writing, and reads what is appended
// until it has held the file for the given time.
// Usage: file_follower <path> <milliseconds>
// Exit code: 0 once it has held the file for that long; 2 if the file could not be opened
// within 10 s; 1 for wrong usage.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 1;
    const DWORD hold_ms = (DWORD)atoi(argv[2]);
    DWORD start = GetTickCount();
    HANDLE h;
    while ((h = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)) == INVALID_HANDLE_VALUE) {
        if (GetTickCount() - start > 10000) return 2;
        Sleep(1);
    }
    start = GetTickCount();
    char buf[4096];
    DWORD got;
    while (GetTickCount() - start < hold_ms) {
        while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0) {
        }
        Sleep(10);
    }
    CloseHandle(h);
    return 0;
}
