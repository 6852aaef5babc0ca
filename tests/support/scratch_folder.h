#pragma once
// A fresh folder under the system's temporary folder for a test or a benchmark, removed with
// everything in it.

#include <string>
#include <vector>

namespace test_support {

class scratch_folder {
public:
    // `prefix` starts the folder's name, so that a folder left by a killed run says whose it is.
    explicit scratch_folder(const std::string& prefix = "kestrel-test");
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::string& path() const { return root; }
    // The path of `name` in the folder.
    std::string file(const std::string& name) const;
    // Names of the entries directly in `folder` (UTF-8), sorted.
    static std::vector<std::string> entries(const std::string& folder);

private:
    std::string root;
};

} // namespace test_support
