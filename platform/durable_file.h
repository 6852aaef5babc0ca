#pragma once
// A file changed in place, byte ranges at a time, with writes that are on the disk once sync()
// returns. The operating system copies a write into its cache page by page, and a process that is
// killed stops between pages: a write that lies within one memory page happens whole or not at all.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class durable_file {
public:
    // Opens an existing regular file for reading and writing; is_open() tells whether it could.
    explicit durable_file(const std::filesystem::path& path);
    ~durable_file();
    durable_file(const durable_file&) = delete;
    durable_file& operator=(const durable_file&) = delete;

    bool is_open() const { return handle >= 0; }
    std::optional<uint64_t> size() const;
    // The bytes at offset, or nothing when fewer than count could be read.
    std::optional<std::string> read_at(uint64_t offset, size_t count) const;
    bool write_at(uint64_t offset, std::string_view bytes);
    bool truncate(uint64_t length);
    bool sync();

    // The memory page size: the unit a killed process's write is cut at.
    static uint64_t page_size();

private:
    int handle = -1;
};

// Writes the bytes to a temporary file beside `path`, forces them to the disk and renames the
// file over `path`: a reader, or a crash, finds the old file or the new one, never a mixture.
bool replace_file(const std::filesystem::path& path, std::string_view bytes);

// Forces a folder's entries to the disk: the names of files just created, renamed or removed in
// it survive a power cut once this returns.
bool sync_folder(const std::filesystem::path& folder);

// Appends the bytes to `path` (created when missing, its name made durable then) and forces
// them to the disk.
bool append_durably(const std::filesystem::path& path, std::string_view bytes);

// Forces every file and folder written on the file system that holds `path` to the disk, in one
// call: cheaper than syncing many small files one by one.
bool sync_file_system(const std::filesystem::path& path);

} // namespace platform
