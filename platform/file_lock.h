#pragma once
// An exclusive advisory lock on a small file. The operating system drops the lock when the
// process that holds it ends, however it ends: a power cut or a kill leaves the file, never the
// lock. Two holders in one process exclude each other too.

#include <filesystem>

namespace platform {

class file_lock {
public:
    enum class opening { create, existing };
    // Opens `path` (creating it when asked and not there) and takes the lock without waiting;
    // held() tells whether it was taken.
    explicit file_lock(const std::filesystem::path& path, opening how = opening::create);
    ~file_lock();
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

    bool held() const { return handle_held; }
    // Gives the lock back and closes the file; the file stays.
    void release();

private:
#ifdef _WIN32
    void* handle = nullptr;
#else
    int handle = -1;
#endif
    bool handle_held = false;
};

enum class lock_probe { no_file, locked_elsewhere, unlocked };

// Whether someone holds the lock of `path`; takes none itself, so it works on a read-only disk.
lock_probe probe_lock(const std::filesystem::path& path);

} // namespace platform
