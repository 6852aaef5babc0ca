#pragma once
// A program run as a child process for a test or a benchmark: a tool of the project or the real
// executable, with its arguments and its own environment. Its standard output can be read line by
// line (the tools print their address first). The child is killed and reaped when the object
// goes, so no child outlives its test.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace test_support {

// What happens to the child's standard streams.
struct child_streams {
    bool read_output = false;    // standard output comes to read_line(), else it is the parent's
    bool discard_errors = false; // standard error goes to /dev/null, else it is the parent's
};

class child_process {
public:
    // Starts the program with the arguments; the environment is this process's with the given
    // variables set (replacing any of the same name).
    child_process(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::pair<std::string, std::string>>& environment = {},
                  child_streams streams = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return id; }

    // The next line of the child's standard output without its newline; empty at its end.
    std::string read_line();

    void signal(int number) const;

    // Sends SIGTERM and waits for the child; its exit status as waitpid reports it.
    int terminate();
    // Ends the child at once, as a crash or a pulled cable would, and reaps it.
    void kill_now();

    // The exit code once the child has ended (minus the signal number when a signal ended it), or
    // nothing if it is still running when the timeout passes.
    std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

    bool running();

private:
    void end_with(int signal_number);

    pid_t id = -1;
    int output = -1;
    int status = 0;
    std::optional<int> exit_code;
};

// The path of a tool built with the project, e.g. tool_path("coordsim/kestrel-coordsim").
std::string tool_path(const std::string& relative);

// A tool built with the project, started with its options; its standard output is read.
child_process start_tool(const std::string& relative, const std::vector<std::string>& options,
                         child_streams streams = {true, false});

// The rest of a child's first line after its first word ("port 40123" gives "40123").
std::string first_line_value(child_process& child);

// Runs a shell command and returns what it printed on standard output.
std::string run_command(const std::string& command);

// The text in single quotes for a shell command line.
std::string shell_quoted(const std::string& text);

} // namespace test_support
