#include "ffmpeg_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace bench_support {

namespace {

double cpu_seconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What ffmpeg says when it joined the camera's stream where it could not start: decoding
// stamps that went backwards, or no picture size found in time, so no stream to write.
bool failed_joining(const std::string& words) {
    return words.find("Invalid pts") != std::string::npos ||
           words.find("does not contain any stream") != std::string::npos;
}

pid_t spawn_with_errors_to(std::vector<std::string> arguments, const std::string& error_log) {
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int failure = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failure == 0 ? pid : -1;
}

} // namespace

ffmpeg_run::ffmpeg_run(const std::vector<std::string>& arguments, std::string error_log,
                       std::chrono::seconds length)
    : error_log(std::move(error_log)),
      deadline(std::chrono::steady_clock::now() + length + std::chrono::minutes(1)) {
    std::vector<std::string> command{"ffmpeg"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    pid = spawn_with_errors_to(command, this->error_log);
}

ffmpeg_run::~ffmpeg_run() {
    if (pid > 0)
        end_now();
}

void ffmpeg_run::end_now() {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
}

double ffmpeg_run::finish() {
    if (pid <= 0)
        throw ffmpeg_failed("ffmpeg could not be started", false);
    int status = 0;
    rusage usage{};
    pid_t ended = 0;
    while ((ended = wait4(pid, &status, WNOHANG, &usage)) == 0 || (ended < 0 && errno == EINTR)) {
        if (std::chrono::steady_clock::now() > deadline) {
            end_now();
            throw ffmpeg_failed("ffmpeg was given up: the stream stopped coming", true);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pid = -1;
    if (ended < 0)
        throw ffmpeg_failed("ffmpeg was lost", false);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return cpu_seconds(usage);
    // The last line says why it ended; the lines before it may tell how it came to that.
    std::ifstream log(error_log);
    std::string last;
    bool joining = false;
    for (std::string line; std::getline(log, line);)
        if (!line.empty()) {
            last = line;
            joining = joining || failed_joining(line);
        }
    throw ffmpeg_failed("ffmpeg failed: " + (last.empty() ? "(said nothing)" : last), joining);
}

std::vector<std::string> ffmpeg_reading(const std::string& url, std::chrono::seconds length) {
    // A camera that stops answering ends the run after 10 s instead of holding it for ever.
    return {"-nostdin",
            "-loglevel",
            "error",
            "-rtsp_transport",
            "tcp",
            "-timeout",
            "10000000",
            "-i",
            url,
            "-t",
            std::to_string(length.count()),
            "-an"};
}

std::vector<std::string> ffmpeg_mjpeg(const std::string& url, std::chrono::seconds length,
                                      const std::string& output) {
    auto arguments = ffmpeg_reading(url, length);
    // Every picture of the stream encoded once, none repeated or dropped for a constant rate.
    arguments.insert(arguments.end(),
                     {"-fps_mode", "passthrough", "-c:v", "mjpeg", "-q:v", "3", "-y", output});
    return arguments;
}

void with_ffmpeg_retries(const std::function<void()>& turn, int attempts) {
    for (int attempt = 1;; ++attempt) {
        try {
            turn();
            return;
        } catch (const ffmpeg_failed& failure) {
            if (!failure.joining || attempt >= attempts)
                throw;
            std::printf("%s; once more\n", failure.what());
            std::fflush(stdout);
        }
    }
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpu_seconds(usage);
}

} // namespace bench_support
