#include "platform/database_place.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/statfs.h>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

fs::path cache_folder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && *xdg == '/')
        return fs::path(xdg) / "kestrel";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/tmp") / ".cache" / "kestrel";
}

// The path as one file name: "/" and "%" written as %2F and %25, so two folders never share a
// name. A path too long for a file name keeps its tail.
std::string flattened(const std::string& path) {
    std::string name;
    for (const char c : path) {
        if (c == '/')
            name += "%2F";
        else if (c == '%')
            name += "%25";
        else
            name += c;
    }
    constexpr size_t longest = 200;
    return name.size() > longest ? name.substr(name.size() - longest) : name;
}

} // namespace

bool on_shared_file_system(const fs::path& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0)
        return false;
    switch (static_cast<uint32_t>(info.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
        return true;
    default:
        return false;
    }
}

fs::path database_place(const fs::path& folder, const char* file_name) {
    if (!on_shared_file_system(folder))
        return folder / file_name;
    std::error_code error;
    fs::path absolute = fs::absolute(folder, error).lexically_normal();
    if (error)
        absolute = folder;
    std::string key = absolute.string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    const fs::path cache = cache_folder();
    fs::create_directories(cache, error);
    return cache / (flattened(key) + "-" + file_name);
}

} // namespace platform
