// The C: drive: maps Win32 paths into the drive folder. Private to the kernel (files, mutexes,
// processes).
#pragma once

#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
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

// What a look at an entry, not through a link, found: its status, or the errno of the look.
struct EntryStatus {
    int error = ENOENT;
    struct stat st {};
};

// Where a path leads: the folder that holds the named entry, with symbolic links to folders
// followed, and the entry's name in it. The name is empty for the drive's root. When
// an entry of that name exists under another letter case, `name` is the existing entry's.
// `entry` is what the resolution saw of the entry itself.
struct DrivePath {
    Fd dir;
    std::string name;
    EntryStatus entry;
};

// Maps a Win32 path ("C:\folder\name", either slash, drive letter in either case) into the
// drive folder. Returns ERROR_SUCCESS, or the Win32 error the calling function reports.
DWORD resolve_path(const char* path, DrivePath* out);

// The Unix path of the entry a Win32 path names, for a path whose every name is spelled as on the
// disk, to be looked at and opened in one call each (the entry itself never reached through a
// link: folders on the way may be links). False for a path that names nothing on the drive. A
// name missing or spelled in another letter case shows when the path is used; resolve_path then
// walks the path and finds the name or the error.
bool exact_path(const char* path, std::string* unix_path);

// What names the C: drive whatever the spelling of its folder ("<device>-<inode>" of the folder,
// made the first time as by any file call); empty when it cannot be had.
std::string drive_identity();

// The Win32 error for an errno value left by a file operation.
DWORD error_from_errno(int err);

}  // namespace w32
