#pragma once
// ffmpeg as the benchmarks' yardstick: one run of it as a child process, its processor time as
// the kernel counts it, and its error output kept to tell a run that joined the camera's stream
// at a bad moment (worth making again) from a real failure.

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench_support {

// An ffmpeg run that did not succeed; `joining` when it gave up on a stream it joined in the
// middle ("Invalid pts", "Output file #0 does not contain any stream"), which another run of
// the same kind usually does not.
class ffmpeg_failed : public std::runtime_error {
public:
    ffmpeg_failed(const std::string& what, bool joining)
        : std::runtime_error(what), joining(joining) {}
    const bool joining;
};

class ffmpeg_run {
public:
    // Starts ffmpeg with the arguments after the program name; its error output goes to
    // `error_log` (overwritten). `length` is how long the run is meant to take: a minute past
    // it, the run is given up.
    ffmpeg_run(const std::vector<std::string>& arguments, std::string error_log,
               std::chrono::seconds length);
    // A run still going is ended and reaped.
    ~ffmpeg_run();
    ffmpeg_run(const ffmpeg_run&) = delete;
    ffmpeg_run& operator=(const ffmpeg_run&) = delete;

    // Waits for the end and returns the processor seconds (user + system) ffmpeg used; throws
    // ffmpeg_failed, with ffmpeg's last words, when it could not start or did not succeed, and
    // as a joining failure when it was given up.
    double finish();

private:
    void end_now();

    std::string error_log;
    std::chrono::steady_clock::time_point deadline;
    pid_t pid = -1;
};

// ffmpeg's arguments to read an RTSP camera over TCP for `length`, without sound, giving up
// after 10 s without an answer (a camera that sends only its RTCP reports keeps it waiting:
// that is what the run's own limit is for).
std::vector<std::string> ffmpeg_reading(const std::string& url, std::chrono::seconds length);

// The same, every picture decoded and encoded once as MJPEG at quantiser 3 into `output` (AVI):
// what the recorder's MJPEG recording is measured against.
std::vector<std::string> ffmpeg_mjpeg(const std::string& url, std::chrono::seconds length,
                                      const std::string& output);

// Runs `turn` and makes it again when an ffmpeg in it failed joining the stream, saying so on
// stdout; after `attempts` such turns, or at once for any other failure, the failure is thrown.
void with_ffmpeg_retries(const std::function<void()>& turn, int attempts = 4);

// Processor seconds (user + system) this process used so far.
double own_cpu_seconds();

} // namespace bench_support
