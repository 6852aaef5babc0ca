#pragma once
// A tmpfs mounted at a folder for the length of a test: a small, a full or a read-only disk that
// is really one. Mounting needs root: ready() tells whether it worked, so that a test can skip.
// Unmounted (lazily, should a child still hold a file there) when the object goes.

#include <string>

namespace test_support {

class tmpfs_mount {
public:
    // `options` as mount -o takes them, e.g. "size=8m" or "ro,size=8m". The folder is made.
    tmpfs_mount(const std::string& folder, const std::string& options);
    ~tmpfs_mount();
    tmpfs_mount(const tmpfs_mount&) = delete;
    tmpfs_mount& operator=(const tmpfs_mount&) = delete;

    bool ready() const { return mounted; }
    const std::string& path() const { return folder; }

private:
    std::string folder;
    bool mounted = false;
};

} // namespace test_support
