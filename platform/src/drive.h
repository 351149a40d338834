// The C: drive: maps Win32 paths into the drive folder. Private to file.cpp and drive.cpp.
#pragma once

#include <windows.h>

#include <string>

namespace w32 {

// An open descriptor, closed on destruction.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Where a path leads: the folder that holds the named entry, with symbolic links to folders
// followed, and the entry's name in it. The name is empty for the drive's root. When
// an entry of that name exists under another letter case, `name` is the existing entry's.
struct DrivePath {
    Fd dir;
    std::string name;
};

// Maps a Win32 path ("C:\folder\name", either slash, drive letter in either case) into the
// drive folder. Returns ERROR_SUCCESS, or the Win32 error the calling function reports.
DWORD resolve_path(const char* path, DrivePath* out);

// The Win32 error for an errno value left by a file operation.
DWORD error_from_errno(int err);

}  // namespace w32
