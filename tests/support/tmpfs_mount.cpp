#include "tests/support/tmpfs_mount.h"

#include "tests/support/child_process.h"

#include <filesystem>

namespace test_support {

tmpfs_mount::tmpfs_mount(const std::string& folder, const std::string& options) : folder(folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    mounted = run_command("mount -t tmpfs -o " + shell_quoted(options) + " kestrel-test " +
                          shell_quoted(folder) + " >/dev/null 2>&1 && echo mounted") == "mounted\n";
}

tmpfs_mount::~tmpfs_mount() {
    if (mounted)
        run_command("umount -l " + shell_quoted(folder) + " >/dev/null 2>&1");
}

} // namespace test_support
