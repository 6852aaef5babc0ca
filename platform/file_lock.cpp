#include "platform/file_lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

namespace {

HANDLE open_shared(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lock_whole(HANDLE file) {
    OVERLAPPED from_start{};
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &from_start) != 0;
}

void unlock_whole(HANDLE file) {
    OVERLAPPED from_start{};
    ::UnlockFileEx(file, 0, 1, 0, &from_start);
}

} // namespace

file_lock::file_lock(const std::filesystem::path& path, opening how) {
    const HANDLE file = open_shared(path, GENERIC_READ | GENERIC_WRITE,
                                    how == opening::create ? OPEN_ALWAYS : OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return;
    handle = file;
    handle_held = lock_whole(file);
}

void file_lock::release() {
    if (!handle)
        return;
    if (handle_held)
        unlock_whole(static_cast<HANDLE>(handle));
    ::CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    handle_held = false;
}

lock_probe probe_lock(const std::filesystem::path& path) {
    const HANDLE file = open_shared(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? lock_probe::no_file
                                                        : lock_probe::locked_elsewhere;
    OVERLAPPED from_start{};
    const bool free = ::LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &from_start) != 0;
    if (free)
        unlock_whole(file);
    ::CloseHandle(file);
    return free ? lock_probe::unlocked : lock_probe::locked_elsewhere;
}

#else

namespace {

// Locks of an open file description: they belong to the opening, not to the process, so a
// second opening in the same process sees the first one's lock.
struct flock whole_file(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    return range;
}

int open_retrying(const std::filesystem::path& path, int flags) {
    for (;;) {
        const int handle = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
        if (handle >= 0 || errno != EINTR)
            return handle;
    }
}

} // namespace

file_lock::file_lock(const std::filesystem::path& path, opening how) {
    handle = open_retrying(path, how == opening::create ? O_RDWR | O_CREAT : O_RDWR);
    if (handle < 0)
        return;
    struct flock range = whole_file(F_WRLCK);
    handle_held = ::fcntl(handle, F_OFD_SETLK, &range) == 0;
}

void file_lock::release() {
    if (handle < 0)
        return;
    ::close(handle); // closing the description drops its lock
    handle = -1;
    handle_held = false;
}

lock_probe probe_lock(const std::filesystem::path& path) {
    const int handle = open_retrying(path, O_RDONLY);
    if (handle < 0)
        return errno == ENOENT ? lock_probe::no_file : lock_probe::locked_elsewhere;
    struct flock range = whole_file(F_WRLCK);
    const bool asked = ::fcntl(handle, F_OFD_GETLK, &range) == 0;
    ::close(handle);
    if (!asked)
        return lock_probe::locked_elsewhere;
    return range.l_type == F_UNLCK ? lock_probe::unlocked : lock_probe::locked_elsewhere;
}

#endif

file_lock::~file_lock() {
    release();
}

} // namespace platform
