#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace position_test {

child_process::child_process(const std::vector<std::string>& arguments) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(pipe_ends[1], STDOUT_FILENO);
        ::close(pipe_ends[0]);
        ::close(pipe_ends[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[1]);
    output = pipe_ends[0];
}

child_process::~child_process() {
    terminate();
    if (output >= 0)
        ::close(output);
}

std::string child_process::read_line() {
    std::string line;
    char c = 0;
    while (::read(output, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

int child_process::terminate() {
    if (!reaped && pid > 0) {
        ::kill(pid, SIGTERM);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        reaped = true;
    }
    return status;
}

std::string tool_path(const std::string& relative) {
    return std::string(KESTREL_TOOLS_DIR) + "/" + relative;
}

std::string first_line_value(child_process& child) {
    const std::string line = child.read_line();
    const size_t space = line.find(' ');
    if (space == std::string::npos)
        throw std::runtime_error("unexpected first line from the tool: " + line);
    return line.substr(space + 1);
}

} // namespace position_test
