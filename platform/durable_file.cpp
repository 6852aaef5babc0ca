#include "platform/durable_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

// Repeats the call while a signal interrupts it before anything was done.
template <typename call_type> auto retrying(call_type call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

bool write_all(int handle, uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = retrying([&] {
            return ::pwrite(handle, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        });
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
        offset += static_cast<uint64_t>(written);
    }
    return true;
}

} // namespace

durable_file::durable_file(const std::filesystem::path& path) {
    handle = retrying([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); });
    struct stat status {};
    if (handle >= 0 && (::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(handle);
        handle = -1;
    }
}

durable_file::~durable_file() {
    if (handle >= 0)
        ::close(handle);
}

std::optional<uint64_t> durable_file::size() const {
    struct stat status {};
    if (::fstat(handle, &status) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(status.st_size);
}

std::optional<std::string> durable_file::read_at(uint64_t offset, size_t count) const {
    std::string bytes(count, '\0');
    size_t got = 0;
    while (got < count) {
        const ssize_t read = retrying([&] {
            return ::pread(handle, bytes.data() + got, count - got,
                           static_cast<off_t>(offset + got));
        });
        if (read <= 0)
            return std::nullopt;
        got += static_cast<size_t>(read);
    }
    return bytes;
}

bool durable_file::write_at(uint64_t offset, std::string_view bytes) {
    return write_all(handle, offset, bytes);
}

bool durable_file::truncate(uint64_t length) {
    return retrying([&] { return ::ftruncate(handle, static_cast<off_t>(length)); }) == 0;
}

bool durable_file::sync() {
    return retrying([&] { return ::fsync(handle); }) == 0;
}

uint64_t durable_file::page_size() {
    static const uint64_t size = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

bool replace_file(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    const int handle = retrying(
        [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (handle < 0)
        return false;
    bool written = write_all(handle, 0, bytes);
    written = retrying([&] { return ::fsync(handle); }) == 0 && written;
    written = ::close(handle) == 0 && written;
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary, path, error);
    if (!written || error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    // The rename itself reaches the disk with its folder.
    sync_folder(path.parent_path());
    return true;
}

bool append_durably(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code missing;
    const bool existed = std::filesystem::exists(path, missing);
    const int handle = retrying(
        [&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666); });
    if (handle < 0)
        return false;
    bool written = true;
    while (written && !bytes.empty()) {
        const ssize_t done = retrying([&] { return ::write(handle, bytes.data(), bytes.size()); });
        written = done > 0;
        if (written)
            bytes.remove_prefix(static_cast<size_t>(done));
    }
    written = retrying([&] { return ::fsync(handle); }) == 0 && written;
    written = ::close(handle) == 0 && written;
    if (written && !existed)
        written = sync_folder(path.parent_path().empty() ? "." : path.parent_path());
    return written;
}

bool sync_file_system(const std::filesystem::path& path) {
    const int handle = retrying([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (handle < 0)
        return false;
    const bool synced = ::syncfs(handle) == 0;
    ::close(handle);
    return synced;
}

bool sync_folder(const std::filesystem::path& folder) {
    const int handle =
        retrying([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (handle < 0)
        return false;
    const bool synced = retrying([&] { return ::fsync(handle); }) == 0;
    ::close(handle);
    return synced;
}

} // namespace platform
