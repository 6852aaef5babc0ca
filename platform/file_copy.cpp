#include "platform/file_copy.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Direct reads need buffers, offsets and lengths aligned to the device's block; 1 MiB pieces
// keep the disk busy without holding much memory.
constexpr size_t direct_alignment = 4096;
constexpr size_t piece_size = 1 << 20;

class file_handle {
public:
    file_handle(const std::filesystem::path& path, int flags)
        : handle(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~file_handle() {
        if (handle >= 0)
            ::close(handle);
    }
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;
    int get() const { return handle; }

private:
    int handle;
};

struct aligned_free {
    void operator()(char* block) const { std::free(block); }
};

ssize_t read_some(int handle, char* buffer, size_t count) {
    for (;;) {
        const ssize_t got = ::read(handle, buffer, count);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool read_all(int handle, char* buffer, const std::function<void(const char*, size_t)>& take) {
    for (;;) {
        const ssize_t got = read_some(handle, buffer, piece_size);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        take(buffer, static_cast<size_t>(got));
    }
}

} // namespace

bool sync_path(const std::filesystem::path& path) {
    const file_handle file(path, O_RDONLY);
    return file.get() >= 0 && ::fsync(file.get()) == 0;
}

bool read_from_disk(const std::filesystem::path& path,
                    const std::function<void(const char*, size_t)>& take) {
    void* block = nullptr;
    if (::posix_memalign(&block, direct_alignment, piece_size) != 0)
        return false;
    const std::unique_ptr<char, aligned_free> buffer(static_cast<char*>(block));
    {
        // A direct read of a file's tail shorter than a block is allowed and returns it.
        const file_handle direct(path, O_RDONLY | O_DIRECT);
        if (direct.get() >= 0)
            return read_all(direct.get(), buffer.get(), take);
        if (errno != EINVAL)
            return false;
    }
    // File systems without O_DIRECT (tmpfs, some FUSE ones): drop what the cache holds of the
    // file, so the bytes come from the file system again.
    const file_handle cached(path, O_RDONLY);
    if (cached.get() < 0)
        return false;
    ::fdatasync(cached.get());
    ::posix_fadvise(cached.get(), 0, 0, POSIX_FADV_DONTNEED);
    return read_all(cached.get(), buffer.get(), take);
}

std::string machine_id() {
    for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream in(file);
        std::string id;
        if (std::getline(in, id) && !id.empty())
            return id;
    }
    return {};
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace platform
