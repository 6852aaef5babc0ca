#pragma once
// What a verified copy asks of the operating system: files and folders forced to the disk,
// files read back from the disk rather than from the memory that still holds what was written,
// and the machine's identity.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace platform {

// Forces a file's bytes, or a folder's entries, to the disk. False when it could not.
bool sync_path(const std::filesystem::path& path);

// Reads a whole file in pieces, bypassing the page cache (O_DIRECT where the file system takes
// it; elsewhere the file's cached pages are dropped first), handing each piece to `take`.
// False when the file cannot be opened or read.
bool read_from_disk(const std::filesystem::path& path,
                    const std::function<void(const char*, size_t)>& take);

// The machine's lasting id (/etc/machine-id); empty when the system has none.
std::string machine_id();
// The computer's host name; empty when it cannot be had.
std::string host_name();

} // namespace platform
