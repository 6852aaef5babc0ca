#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {

scratch_folder::scratch_folder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder under " +
                                 fs::temp_directory_path().string());
    root = pattern;
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

std::string scratch_folder::file(const std::string& name) const {
    return (fs::path(root) / name).string();
}

std::vector<std::string> scratch_folder::entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace test_support
