// Mutexes. A named mutex is shared by every process of the user: its name is a lock file in a
// folder of the user's own, and open-file-description locks on that file stand for the Win32
// object. The kernel drops a process's locks when it ends, however it ends, as Win32 abandons a
// mutex whose owner has gone.
//   byte 0, data: '1' while an owner holds the mutex, '0' once it released it. A new owner that
//           finds '1' took it from an owner that ended without releasing it: WAIT_ABANDONED.
//   byte 0, lock: held exclusively by the process whose thread owns the mutex.
//   byte 1, lock: held shared by every process with a handle open; the name exists while one is.
//   byte 2, lock: held exclusively while a process opens the name, so that two creations of one
//           name cannot both find it new.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "drive.h"
#include "kernel_private.h"

namespace w32 {
namespace {

struct Mutex : Object {
    Fd file;  // the lock file; none for a mutex without a name
    std::mutex guard;
    DWORD owner = 0;  // the owning thread's id while `count` > 0
    DWORD count = 0;  // a thread may take a mutex it owns again, and releases it as often

    ~Mutex() override {
        // The last handle closed while a thread still owns the mutex: Win32 keeps it owned until
        // that thread ends. The layer keeps it until the process ends.
        if (count > 0) file.release();
    }
};

// The mutexes of this process by name, so that every handle of one name reaches one lock file
// (two open file descriptions of it in one process would lock each other out).
std::mutex& names_mutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::map<std::string, std::weak_ptr<Mutex>>& named_mutexes() {
    static auto* names = new std::map<std::string, std::weak_ptr<Mutex>>;
    return *names;
}

bool lock_byte(int fd, off_t at, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// Whether another open file description holds a lock on the byte that `type` would meet.
bool locked_elsewhere(int fd, off_t at, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

// Makes `folder` if it is missing; refuses one that someone else made or others may write to.
DWORD own_folder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return error_from_errno(errno);
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) return error_from_errno(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 0077))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// The folder of the lock files: in the user's runtime folder, else in one of the user's own in
// /tmp, a folder per C: drive. Named objects belong to one drive, as Wine's belong to one
// prefix: copies of the program on two drives share no name, as they share no file.
DWORD lock_folder(std::string* folder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    *folder = runtime && *runtime ? std::string(runtime) + "/measure-mutexes"
                                  : "/tmp/measure-mutexes-" + std::to_string(::getuid());
    if (DWORD error = own_folder(*folder)) return error;
    const std::string drive = drive_identity();
    if (drive.empty()) return ERROR_PATH_NOT_FOUND;
    *folder += "/drive-" + drive;
    return own_folder(*folder);
}

// A file name for a mutex name: letters, digits, '.', '-' and '_' as they are, every other byte
// as %XX. Names are case-sensitive, as Win32's are. A long name keeps its start and gains a
// hash of the whole.
std::string file_name_of(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out.size() > 200) {
        unsigned long long hash = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
        char tail[20];
        std::snprintf(tail, sizeof tail, "~%016llx", hash);
        out = out.substr(0, 180) + tail;
    }
    return out;
}

// Checks a name as Win32 does and gives the key of its object: "Local\" and "Global\" name the
// two namespaces (no prefix is the local one); a backslash anywhere else names a folder of
// objects that does not exist.
DWORD key_of(const char* name, std::string* key) {
    const std::string n(name);
    if (n.size() > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    std::string space = "L", rest = n;
    if (n.compare(0, 6, "Local\\") == 0) {
        rest = n.substr(6);
    } else if (n.compare(0, 7, "Global\\") == 0) {
        space = "G";
        rest = n.substr(7);
    }
    if (rest.empty()) return ERROR_INVALID_NAME;
    if (rest.find('\\') != std::string::npos) return ERROR_PATH_NOT_FOUND;
    *key = space + "-" + rest;
    return ERROR_SUCCESS;
}

// Opens the lock file of a name and holds it open; `existed` says whether another process had
// a handle to it. A name no process has open is a new mutex, whatever an earlier one left.
DWORD open_named(const std::string& key, Fd* out, bool* existed) {
    std::string folder;
    if (DWORD error = lock_folder(&folder)) return error;
    const std::string path = folder + "/" + file_name_of(key);
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return error_from_errno(errno);
    if (!lock_byte(fd.get(), 2, F_WRLCK, true)) return error_from_errno(errno);
    *existed = locked_elsewhere(fd.get(), 1, F_WRLCK);
    DWORD error = ERROR_SUCCESS;
    if (!lock_byte(fd.get(), 1, F_RDLCK, false))
        error = error_from_errno(errno);
    else if (!*existed && ::pwrite(fd.get(), "0", 1, 0) != 1)
        error = error_from_errno(errno);
    lock_byte(fd.get(), 2, F_UNLCK, false);
    if (!error) *out = std::move(fd);
    return error;
}

// One attempt to take the mutex for thread `me`. Caller holds m.guard.
DWORD try_take(Mutex& m, DWORD me) {
    if (m.count > 0) {
        if (m.owner != me) return WAIT_TIMEOUT;
        ++m.count;
        return WAIT_OBJECT_0;
    }
    bool abandoned = false;
    if (m.file) {
        if (!lock_byte(m.file.get(), 0, F_WRLCK, false)) return WAIT_TIMEOUT;
        char state = '0';
        abandoned = ::pread(m.file.get(), &state, 1, 0) == 1 && state == '1';
        ::pwrite(m.file.get(), "1", 1, 0);
    }
    m.owner = me;
    m.count = 1;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

}  // namespace

// Another process's release wakes nothing here: the wait looks again every millisecond or two.
DWORD wait_mutex(HANDLE h, DWORD ms) {
    auto m = find<Mutex>(h, Kind::Mutex);
    if (!m) {
        set_error(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    const DWORD me = GetCurrentThreadId();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m->guard);
            const DWORD r = try_take(*m, me);
            if (r != WAIT_TIMEOUT) return r;
        }
        if (ms != INFINITE && Clock::now() >= deadline) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace w32

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    using namespace w32;
    std::shared_ptr<Mutex> m;
    bool existed = false;
    if (lpName && *lpName) {
        std::string key;
        if (DWORD error = key_of(lpName, &key)) {
            set_error(error);
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(names_mutex());
        std::weak_ptr<Mutex>& slot = named_mutexes()[key];
        m = slot.lock();
        existed = m != nullptr;
        if (!m) {
            Fd fd;
            if (DWORD error = open_named(key, &fd, &existed)) {
                set_error(error);
                return nullptr;
            }
            m = std::make_shared<Mutex>();
            m->file = std::move(fd);
            slot = m;
        }
    } else {
        m = std::make_shared<Mutex>();
    }
    HANDLE h = add_handle(Kind::Mutex, m);
    if (!h) return nullptr;
    // Win32 gives the initial ownership only to the call that created the mutex.
    if (bInitialOwner && !existed) {
        std::lock_guard<std::mutex> lock(m->guard);
        try_take(*m, GetCurrentThreadId());
    }
    set_error(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    using namespace w32;
    auto m = find<Mutex>(hMutex, Kind::Mutex);
    if (!m) {
        set_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m->guard);
    if (m->count == 0 || m->owner != GetCurrentThreadId()) {
        set_error(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--m->count == 0 && m->file) {
        ::pwrite(m->file.get(), "0", 1, 0);
        lock_byte(m->file.get(), 0, F_UNLCK, false);
    }
    return TRUE;
}

}  // extern "C"
