#include "archive/catalogue_place.h"

#include "archive/sha256_digest.h"
#include "platform/file_copy.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path cache_folder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && *xdg == '/')
        return fs::path(xdg) / "kestrel";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/tmp") / ".cache" / "kestrel";
}

} // namespace

fs::path catalogue_file_for(const fs::path& root, const char* file_name) {
    if (!platform::on_shared_file_system(root))
        return root / file_name;
    std::error_code error;
    const fs::path absolute = fs::absolute(root, error).lexically_normal();
    const std::string key = (error ? root : absolute).string();
    sha256_digest digest;
    digest.add(key.data(), key.size());
    const fs::path folder = cache_folder();
    fs::create_directories(folder, error);
    // The folder's name keeps the file recognisable; the digest keeps two roots apart.
    std::string tail = absolute.filename().string();
    if (tail.empty())
        tail = "root";
    return folder / (tail + "-" + digest.finish().substr(0, 16) + "-" + file_name);
}
