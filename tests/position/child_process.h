#pragma once
// A tool of the project run as a child process for a test or a benchmark: its standard output
// is read line by line, its standard error goes where the parent's goes. The destructor
// ends it with SIGTERM and reaps it, so no child outlives its test.

#include <string>
#include <sys/types.h>
#include <vector>

namespace position_test {

class child_process {
public:
    explicit child_process(const std::vector<std::string>& arguments);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // The next line of the child's standard output without its newline; empty at its end.
    std::string read_line();

    // Sends SIGTERM and waits for the child; its exit status as waitpid reports it.
    int terminate();

private:
    pid_t pid = -1;
    int output = -1;
    bool reaped = false;
    int status = 0;
};

// The path of a tool built with the project, e.g. tool_path("coordsim/kestrel-coordsim").
std::string tool_path(const std::string& relative);

// The second word of a child's first line ("port 40123" gives "40123").
std::string first_line_value(child_process& child);

} // namespace position_test
