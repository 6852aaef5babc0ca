#pragma once
// A program run as a child process for tests that need the real executable (its exit code, its
// own message boxes, its own environment). The child is killed and reaped when the object goes.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace test_support {

class child_process {
public:
    // Starts the program with the arguments; the environment is this process's with the given
    // variables set (replacing any of the same name).
    child_process(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return id; }

    // The exit code once the child has ended (minus the signal number when a signal ended it), or
    // nothing if it is still running when the timeout passes.
    std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

    bool running();

private:
    pid_t id = -1;
    std::optional<int> exit_code;
};

// Runs a shell command and returns what it printed on standard output.
std::string run_command(const std::string& command);

} // namespace test_support
