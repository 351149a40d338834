// The C: drive is a folder: MEASURE_DRIVE_C names it, by default ~/.local/share/measure/drive_c.
// Paths are normalised lexically as Win32 does and never leave that folder.
#include "drive.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/fold_case.h"
#include "kernel_private.h"

namespace w32 {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

// Read at every call, so that a test can point the drive somewhere before it runs.
std::string drive_folder() {
    if (const char* env = std::getenv("MEASURE_DRIVE_C"); env && *env) return env;
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return home + "/.local/share/measure/drive_c";
}

// Opens the drive folder, creating it (and its parents) the first time, as Wine creates its
// prefix, with the data folder a machine set up for the program has. A drive that exists is
// left as it is: a data folder removed from it stays missing. The folder itself may be
// reached through symbolic links: it is what the user named.
Fd open_drive() {
    const std::string folder = drive_folder();
    Fd fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd || errno != ENOENT) return fd;
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = folder.find('/', pos + 1);
        ::mkdir(folder.substr(0, pos).c_str(), 0777);
    }
    ::mkdir((folder + "/data").c_str(), 0777);
    return Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The length of UTF-8 text in UTF-16 units: one per character, two beyond the BMP.
size_t utf16_length(const char* text) {
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if ((*p & 0xC0) != 0x80) n += *p >= 0xF0 ? 2 : 1;
    }
    return n;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices whatever extension follows, so no file or
// folder can have such a name.
bool is_device_name(const std::string& name) {
    std::string base = fold_case(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"con", "prn", "aux", "nul"}) {
        if (base == device) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9')
        return base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0;
    return false;
}

bool is_valid_name(const std::string& name) {
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>:\"|?*", c)) return false;
    }
    return !is_device_name(name);
}

// The components of the path after "C:\", normalised the way Win32 does before any file system
// sees them: empty and "." components vanish, ".." removes the previous one (and does nothing
// at the root), trailing dots and spaces of a component are dropped.
DWORD split_path(const char* path, std::vector<std::string>* parts) {
    const char* p = path;
    while (*p) {
        while (is_separator(*p)) ++p;
        const char* start = p;
        while (*p && !is_separator(*p)) ++p;
        std::string part(start, p);
        if (part == "..") {
            if (!parts->empty()) parts->pop_back();
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (!part.empty()) parts->push_back(std::move(part));
    }
    for (const std::string& part : *parts) {
        if (!is_valid_name(part)) return ERROR_INVALID_NAME;
    }
    return ERROR_SUCCESS;
}

// Win32 names ignore letter case: prefers an exact match, else the entry of `dir` whose name
// differs only in ASCII case, else `name` itself. What a look at the entry (not through a link)
// found goes to `entry`, if given: its status, or the errno of the look.
std::string existing_name(int dir, const std::string& name, EntryStatus* entry = nullptr) {
    EntryStatus seen;
    if (!entry) entry = &seen;
    auto look = [dir, entry](const std::string& n) {
        entry->error = ::fstatat(dir, n.c_str(), &entry->st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
        return entry->error;
    };
    if (look(name) != ENOENT) return name;
    int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return name;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return name;
    }
    std::string found = name;
    const std::string folded = fold_case(name);
    while (const dirent* e = ::readdir(d)) {
        if (fold_case(std::string(e->d_name)) == folded) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    if (found != name) look(found);
    return found;
}

// The components of a Win32 path below the drive's root, or the error of a path that names
// nothing on the drive.
DWORD drive_components(const char* path, std::vector<std::string>* parts) {
    if (!path || !*path) return ERROR_PATH_NOT_FOUND;
    // The ANSI calls first convert the path into a buffer of MAX_PATH + 1 UTF-16 units.
    if (utf16_length(path) > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    // Only C: exists. A path relative to the current folder, or rooted without a drive, is
    // refused with the error of a missing folder: the program always names C:\ in full.
    if (!((path[0] == 'c' || path[0] == 'C') && path[1] == ':' && is_separator(path[2])))
        return ERROR_PATH_NOT_FOUND;
    return split_path(path + 3, parts);
}

}  // namespace

std::string drive_identity() {
    Fd drive = open_drive();
    struct stat st;
    if (!drive || ::fstat(drive.get(), &st) != 0) return std::string();
    return std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
}

bool exact_path(const char* path, std::string* unix_path) {
    std::vector<std::string> parts;
    if (drive_components(path, &parts) != ERROR_SUCCESS || parts.empty()) return false;
    // The ".." components are gone, resolved on the path as written, so the kernel's walk meets
    // links only where the user placed them.
    *unix_path = drive_folder();
    for (const std::string& part : parts) {
        *unix_path += '/';
        *unix_path += part;
    }
    return true;
}

DWORD resolve_path(const char* path, DrivePath* out) {
    std::vector<std::string> parts;
    if (DWORD error = drive_components(path, &parts)) return error;

    Fd dir = open_drive();
    if (!dir) return ERROR_PATH_NOT_FOUND;
    // A folder may be a symbolic link that the user placed in the drive (a data folder on another
    // disk): it is followed, as Wine follows it. The path itself cannot climb out of the drive,
    // since its ".." components were resolved above, before any link was read.
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string name = existing_name(dir.get(), parts[i]);
        Fd next(::openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next) {
            DWORD error = error_from_errno(errno);
            return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
        }
        dir = std::move(next);
    }
    out->name = parts.empty() ? std::string() : existing_name(dir.get(), parts.back(), &out->entry);
    out->dir = std::move(dir);
    return ERROR_SUCCESS;
}

DWORD error_from_errno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:  // a file where a folder should be
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ELOOP:  // O_NOFOLLOW met a symbolic link
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace w32
