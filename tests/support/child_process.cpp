#include "tests/support/child_process.h"

#include <cstdio>
#include <cstring>
#include <signal.h>
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

} // namespace

child_process::child_process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::pair<std::string, std::string>>& environment) {
    // Everything the child needs is prepared before fork: only exec runs in the child.
    std::vector<std::string> argument_texts{program};
    argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment_texts = merged_environment(environment);
    std::vector<char*> argv = pointers(argument_texts);
    std::vector<char*> envp = pointers(environment_texts);

    id = fork();
    if (id < 0)
        throw std::runtime_error("fork failed");
    if (id == 0) {
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
}

child_process::~child_process() {
    if (running()) {
        kill(id, SIGKILL);
        int status = 0;
        waitpid(id, &status, 0);
    }
}

bool child_process::running() {
    if (exit_code)
        return false;
    int status = 0;
    if (waitpid(id, &status, WNOHANG) == id)
        exit_code = code_of(status);
    return !exit_code;
}

std::optional<int> child_process::wait_for_exit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    running();
    return exit_code;
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

} // namespace test_support
