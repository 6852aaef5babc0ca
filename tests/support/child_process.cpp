#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace test_support {

namespace {

std::vector<std::string>
merged_environment(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : overrides)
            replaced |= text.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            result.push_back(text);
    }
    for (const auto& [name, value] : overrides)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int code_of(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return -1;
}

// The spawn's stream redirections; the pipe's ends are close-on-exec, so only the duplicate
// stays open in the child.
class stream_actions {
public:
    stream_actions(int output_end, bool discard_errors) {
        posix_spawn_file_actions_init(&actions);
        if (output_end >= 0)
            posix_spawn_file_actions_adddup2(&actions, output_end, STDOUT_FILENO);
        if (discard_errors)
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    ~stream_actions() { posix_spawn_file_actions_destroy(&actions); }
    stream_actions(const stream_actions&) = delete;
    stream_actions& operator=(const stream_actions&) = delete;

    const posix_spawn_file_actions_t* get() const { return &actions; }

private:
    posix_spawn_file_actions_t actions;
};

} // namespace

child_process::child_process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::pair<std::string, std::string>>& environment,
                             const child_streams streams) {
    std::vector<std::string> argument_texts{program};
    argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment_texts = merged_environment(environment);
    std::vector<char*> argv = pointers(argument_texts);
    std::vector<char*> envp = pointers(environment_texts);

    int pipe_ends[2] = {-1, -1};
    if (streams.read_output && pipe2(pipe_ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const stream_actions actions(pipe_ends[1], streams.discard_errors);
    const int failed =
        posix_spawn(&id, program.c_str(), actions.get(), nullptr, argv.data(), envp.data());
    if (pipe_ends[1] >= 0)
        close(pipe_ends[1]);
    output = pipe_ends[0];
    if (failed != 0) {
        id = -1;
        if (output >= 0)
            close(output);
        throw std::runtime_error("cannot start " + program);
    }
}

child_process::~child_process() {
    kill_now();
    if (output >= 0)
        close(output);
}

std::string child_process::read_line() {
    std::string line;
    char ch = 0;
    while (output >= 0 && read(output, &ch, 1) == 1 && ch != '\n')
        line += ch;
    return line;
}

void child_process::signal(const int number) const {
    if (id > 0)
        kill(id, number);
}

void child_process::end_with(const int signal_number) {
    if (!running())
        return;
    kill(id, signal_number);
    while (waitpid(id, &status, 0) < 0 && errno == EINTR) {
    }
    exit_code = code_of(status);
}

int child_process::terminate() {
    end_with(SIGTERM);
    return status;
}

void child_process::kill_now() {
    end_with(SIGKILL);
}

bool child_process::running() {
    if (exit_code || id <= 0)
        return false;
    if (waitpid(id, &status, WNOHANG) == id)
        exit_code = code_of(status);
    return !exit_code;
}

std::optional<int> child_process::wait_for_exit(const std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    running();
    return exit_code;
}

std::string tool_path(const std::string& relative) {
    return std::string(KESTREL_TOOLS_DIR) + "/" + relative;
}

child_process start_tool(const std::string& relative, const std::vector<std::string>& options,
                         const child_streams streams) {
    return child_process(tool_path(relative), options, {}, streams);
}

std::string first_line_value(child_process& child) {
    const std::string line = child.read_line();
    const size_t space = line.find(' ');
    if (space == std::string::npos)
        throw std::runtime_error("unexpected first line from the tool: " + line);
    return line.substr(space + 1);
}

std::string run_command(const std::string& command) {
    std::string output;
    FILE* const pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, count);
    pclose(pipe);
    return output;
}

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char ch : text)
        quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return quoted + "'";
}

} // namespace test_support
