// Files on the C: drive: CreateFileA and the calls on its handles, folders, attributes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "drive.h"
#include "kernel/fault_hook.h"
#include "kernel_private.h"

namespace w32 {
namespace {

using FileKey = std::pair<dev_t, ino_t>;

struct OpenFile;

// Every open file with read or write access, by device and inode, for the share-mode checks.
struct ShareTable {
    std::mutex mutex;
    std::multimap<FileKey, const OpenFile*> opens;
};

// Never destroyed: a worker may still close a file while the process exits.
ShareTable& shares() {
    static auto* table = new ShareTable;
    return *table;
}

struct OpenFile : Object {
    Fd fd;
    DWORD access = 0;
    DWORD share = 0;
    FileKey key{};
    bool registered = false;

    ~OpenFile() override {
        if (!registered) return;
        std::lock_guard<std::mutex> lock(shares().mutex);
        auto range = shares().opens.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == this) {
                shares().opens.erase(it);
                break;
            }
        }
    }
};

const DWORD data_access = GENERIC_READ | GENERIC_WRITE;

// Win32's share check between two opens of one file: each one's access must be allowed by the
// other's share mode. An open without read or write access takes no part in it.
bool clash(DWORD access, DWORD share_of_other) {
    return ((access & GENERIC_READ) && !(share_of_other & FILE_SHARE_READ)) ||
           ((access & GENERIC_WRITE) && !(share_of_other & FILE_SHARE_WRITE));
}

// Caller holds shares().mutex.
bool share_conflict_locked(const FileKey& key, DWORD access, DWORD share) {
    if (!(access & data_access)) return false;
    auto range = shares().opens.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        if (clash(access, it->second->share) || clash(it->second->access, share)) return true;
    }
    return false;
}

// Deleting needs every open of the file to share delete access. Caller holds shares().mutex.
bool delete_conflict_locked(const FileKey& key) {
    auto range = shares().opens.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        if (!(it->second->share & FILE_SHARE_DELETE)) return true;
    }
    return false;
}

// SetFilePointer's result for the position it moved to: the low part, and the high part through
// `high` if given. The caller can tell a low part equal to INVALID_SET_FILE_POINTER from a failure
// only by the error, ERROR_SUCCESS.
DWORD report_position(LONGLONG position, PLONG high) {
    if (high) *high = static_cast<LONG>(static_cast<ULONGLONG>(position) >> 32);
    const DWORD low = static_cast<DWORD>(position);
    if (low == INVALID_SET_FILE_POINTER) set_error(ERROR_SUCCESS);
    return low;
}

HANDLE fail_open(DWORD error) {
    set_error(error);
    return INVALID_HANDLE_VALUE;
}

std::shared_ptr<OpenFile> find_file(HANDLE h) {
    auto f = find<OpenFile>(h, Kind::File);
    if (!f) set_error(ERROR_INVALID_HANDLE);
    return f;
}

// The checks WriteFile and ReadFile share: a live handle with the access, a buffer, and the
// position an OVERLAPPED gives (on a handle opened without FILE_FLAG_OVERLAPPED it only gives
// the position). Returns the descriptor, or -1 with the error set.
int prepare_io(OpenFile* file, DWORD access, const void* buffer, DWORD count,
                      LPOVERLAPPED overlapped) {
    if (!file) return -1;
    if (!(file->access & access)) {
        set_error(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (!buffer && count > 0) {
        set_error(ERROR_NOACCESS);
        return -1;
    }
    const int fd = file->fd.get();
    if (overlapped) {
        const off_t at = static_cast<off_t>(
            (static_cast<ULONGLONG>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
        if (::lseek(fd, at, SEEK_SET) < 0) {
            set_error(error_from_errno(errno));
            return -1;
        }
    }
    return fd;
}

}  // namespace
}  // namespace w32

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD, HANDLE) {
    using namespace w32;
    W32_FAULT(CreateFileA, lpFileName, INVALID_HANDLE_VALUE);
    const DWORD disposition = dwCreationDisposition;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (dwShareMode & ~DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) ||
        (disposition == TRUNCATE_EXISTING && !(dwDesiredAccess & GENERIC_WRITE)))
        return fail_open(ERROR_INVALID_PARAMETER);

    // Held from the first look at the file until it is entered in the table, so that the
    // share check and a truncation cannot interleave with another open or a delete.
    std::lock_guard<std::mutex> lock(shares().mutex);

    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    const bool reads = (dwDesiredAccess & GENERIC_READ) != 0;
    auto open_flags = [&](bool exists) {
        // Truncating needs a writable descriptor even when the handle may only read.
        const bool writes = (dwDesiredAccess & GENERIC_WRITE) || (exists && truncates);
        int flags = writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
        flags |= O_NOCTTY | O_CLOEXEC;
        if (!exists) flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
        return flags;
    };
    // An existing entry is looked at before it is opened: anything that is not a plain file (a
    // FIFO, whose other end would see an open and a close; a device) is refused without an open,
    // and a symbolic link is refused by O_NOFOLLOW. A plain file is then opened without waiting,
    // so that what took its place meanwhile cannot block the open, and once more waiting where a
    // lease that another program holds must be broken first (the only reason a plain file's open
    // would wait), as it always has been. What was opened must still be a plain file.
    struct stat st;
    auto open_plain = [&](int dir, const char* name, const struct stat& looked_at,
                          Fd* out) -> DWORD {
        if (!S_ISREG(looked_at.st_mode)) return ERROR_ACCESS_DENIED;
        const int flags = open_flags(true) | O_NOFOLLOW;
        *out = Fd(::openat(dir, name, flags | O_NONBLOCK));
        if (!*out && errno == EWOULDBLOCK) *out = Fd(::openat(dir, name, flags));
        if (!*out) return error_from_errno(errno);
        if (::fstat(out->get(), &st) != 0) return error_from_errno(errno);
        return S_ISREG(st.st_mode) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    };
    // An existing file whose path is spelled as on the disk (the data file at every line) is
    // looked at and opened in one call each; a missing name, another letter case or any failure
    // walks the path.
    Fd fd;
    bool exists = false;
    std::string unix_path;
    struct stat looked_at;
    if (disposition != CREATE_NEW && exact_path(lpFileName, &unix_path) &&
        ::fstatat(AT_FDCWD, unix_path.c_str(), &looked_at, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(looked_at.st_mode)) {
        exists = true;
        if (DWORD error = open_plain(AT_FDCWD, unix_path.c_str(), looked_at, &fd))
            return fail_open(error);
    }
    if (!exists) {
        DrivePath path;
        if (DWORD error = resolve_path(lpFileName, &path)) return fail_open(error);
        if (path.name.empty())  // the drive's root folder
            return fail_open(ERROR_ACCESS_DENIED);
        const EntryStatus& entry = path.entry;
        exists = entry.error == 0;
        if (!exists && entry.error != ENOENT) return fail_open(error_from_errno(entry.error));
        if (exists && disposition == CREATE_NEW) return fail_open(ERROR_FILE_EXISTS);
        if (!exists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
            return fail_open(ERROR_FILE_NOT_FOUND);
        if (exists) {
            if (DWORD error = open_plain(path.dir.get(), path.name.c_str(), entry.st, &fd))
                return fail_open(error);
        } else {
            fd = Fd(::openat(path.dir.get(), path.name.c_str(), open_flags(false), 0666));
            if (!fd) return fail_open(error_from_errno(errno));
            if (::fstat(fd.get(), &st) != 0) return fail_open(error_from_errno(errno));
        }
    }
    const bool truncate = exists && truncates;

    const FileKey key{st.st_dev, st.st_ino};
    if (share_conflict_locked(key, dwDesiredAccess, dwShareMode))
        return fail_open(ERROR_SHARING_VIOLATION);
    if (truncate && ::ftruncate(fd.get(), 0) != 0) return fail_open(error_from_errno(errno));

    auto file = std::make_shared<OpenFile>();
    file->fd = std::move(fd);
    file->access = dwDesiredAccess;
    file->share = dwShareMode;
    file->key = key;
    HANDLE h = add_handle(Kind::File, file);
    if (!h) return INVALID_HANDLE_VALUE;
    if (dwDesiredAccess & data_access) {
        shares().opens.emplace(key, file.get());
        file->registered = true;
    }
    // Win32 reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened, and clears the
    // error otherwise.
    const bool opened_existing =
        exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    set_error(opened_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    using namespace w32;
    auto file = find_file(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;
    W32_FAULT(SetFilePointer, nullptr, INVALID_SET_FILE_POINTER);
    // Without a high part the distance is a signed 32-bit value.
    const LONGLONG distance =
        lpDistanceToMoveHigh
            ? static_cast<LONGLONG>(
                  (static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                  static_cast<DWORD>(lDistanceToMove))
            : static_cast<LONGLONG>(lDistanceToMove);
    const int fd = file->fd.get();
    LONGLONG base = 0;
    struct stat st;
    switch (dwMoveMethod) {
        case FILE_BEGIN:
            break;
        case FILE_CURRENT:
            base = ::lseek(fd, 0, SEEK_CUR);
            if (base < 0) {
                set_error(error_from_errno(errno));
                return INVALID_SET_FILE_POINTER;
            }
            break;
        case FILE_END:
            // With the high part any position can be reported: the kernel finds the end and
            // moves there in one call, and refuses a move before the start or past its limit
            // without moving.
            if (lpDistanceToMoveHigh) {
                const off_t at = ::lseek(fd, static_cast<off_t>(distance), SEEK_END);
                if (at < 0) {
                    set_error(errno != EINVAL ? error_from_errno(errno)
                              : distance < 0  ? ERROR_NEGATIVE_SEEK
                                              : ERROR_INVALID_PARAMETER);
                    return INVALID_SET_FILE_POINTER;
                }
                return report_position(at, lpDistanceToMoveHigh);
            }
            if (::fstat(fd, &st) != 0) {
                set_error(error_from_errno(errno));
                return INVALID_SET_FILE_POINTER;
            }
            base = st.st_size;
            break;
        default:
            set_error(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    LONGLONG position = 0;
    if (__builtin_add_overflow(base, distance, &position)) {
        set_error(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (position < 0) {
        set_error(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high part a position past 4 GB cannot be reported: the call fails and the
    // pointer stays where it was, as Win32 documents (Wine moves it and returns the low part).
    if (!lpDistanceToMoveHigh && position > 0xFFFFFFFFLL) {
        set_error(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(fd, position, SEEK_SET) < 0) {
        set_error(error_from_errno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    return report_position(position, lpDistanceToMoveHigh);
}

// The file ends at the pointer: cut back or extended (with zeros, sparsely on Linux).
BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    using namespace w32;
    auto file = find_file(hFile);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_WRITE)) {
        set_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const int fd = file->fd.get();
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(fd, position) != 0) {
        set_error(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    using namespace w32;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    auto file = find_file(hFile);
    // A planned failure (test builds) may let the first bytes through before it fails, as a
    // disk that fills up in the middle of a write does.
    DWORD count = nNumberOfBytesToWrite;
    const bool planned_failure = file && W32_WRITE_FAULT(&count);
    const DWORD planned_error = planned_failure ? GetLastError() : ERROR_SUCCESS;
    if (planned_failure && count == 0) return FALSE;
    const int fd = prepare_io(file.get(), GENERIC_WRITE, lpBuffer, count, lpOverlapped);
    if (fd < 0) return FALSE;
    const char* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
            set_error(n == 0 ? ERROR_DISK_FULL : error_from_errno(errno));
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    if (planned_failure) {
        set_error(planned_error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    using namespace w32;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    auto file = find_file(hFile);
    const int fd = prepare_io(file.get(), GENERIC_READ, lpBuffer, nNumberOfBytesToRead,
                              lpOverlapped);
    if (fd < 0) return FALSE;
    char* p = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    // Reads until the count is reached or the end of the file: TRUE with fewer bytes at the end.
    while (done < nNumberOfBytesToRead) {
        ssize_t n = ::read(fd, p + done, nNumberOfBytesToRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
            set_error(error_from_errno(errno));
            return FALSE;
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    using namespace w32;
    auto file = find_file(hFile);
    if (!file) return INVALID_FILE_SIZE;
    struct stat st;
    if (::fstat(file->fd.get(), &st) != 0) {
        set_error(error_from_errno(errno));
        return INVALID_FILE_SIZE;
    }
    const ULONGLONG size = static_cast<ULONGLONG>(st.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    const DWORD low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE) set_error(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    using namespace w32;
    DrivePath path;
    DWORD error = resolve_path(lpFileName, &path);
    if (!error && path.name.empty()) error = ERROR_ACCESS_DENIED;
    if (error) {
        set_error(error);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(shares().mutex);
    struct stat st;
    if (::fstatat(path.dir.get(), path.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        set_error(error_from_errno(errno));
        return FALSE;
    }
    if (S_ISDIR(st.st_mode)) {
        set_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Unlike Win32, a file whose every open shares delete access disappears at once rather
    // than when its last handle closes.
    if (delete_conflict_locked(FileKey{st.st_dev, st.st_ino})) {
        set_error(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (::unlinkat(path.dir.get(), path.name.c_str(), 0) != 0) {
        set_error(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    using namespace w32;
    DrivePath path;
    DWORD error = resolve_path(lpPathName, &path);
    if (!error && path.name.empty()) error = ERROR_ALREADY_EXISTS;
    if (!error && ::mkdirat(path.dir.get(), path.name.c_str(), 0777) != 0)
        error = errno == EEXIST ? ERROR_ALREADY_EXISTS : error_from_errno(errno);
    if (error) {
        set_error(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    using namespace w32;
    DrivePath path;
    DWORD error = resolve_path(lpPathName, &path);
    if (!error && path.name.empty()) error = ERROR_ACCESS_DENIED;
    struct stat st;
    if (!error && ::fstatat(path.dir.get(), path.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        error = error_from_errno(errno);
    if (!error && !S_ISDIR(st.st_mode)) error = ERROR_DIRECTORY;
    if (!error && ::unlinkat(path.dir.get(), path.name.c_str(), AT_REMOVEDIR) != 0)
        error = error_from_errno(errno);
    if (error) {
        set_error(error);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    using namespace w32;
    DrivePath path;
    if (DWORD error = resolve_path(lpFileName, &path)) {
        set_error(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (path.name.empty()) return FILE_ATTRIBUTE_DIRECTORY;
    struct stat st;
    if (::fstatat(path.dir.get(), path.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        set_error(error_from_errno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    // Win32 marks every file it creates or writes for the next backup.
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

}  // extern "C"
