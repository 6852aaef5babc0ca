#pragma once
// The requests to end the program that the system sends (SIGTERM when the machine shuts down,
// SIGINT, SIGHUP) reach the GUI thread as one call of `on_request` from the toolkit's event
// loop. The signal handler does only what a signal handler may: it writes a byte to a pipe that
// every event loop watches. A second request while the first is being handled ends the process
// at once, with the status of a process ended by that signal (128 + its number).

#include <csignal>
#include <functional>
#include <memory>
#include <wx/evtloopsrc.h>

namespace platform {

class termination_signals : private wxEventLoopSourceHandler {
public:
    // Only one watch at a time: a second one, while the first lives, watches nothing.
    explicit termination_signals(std::function<void()> on_request);
    // Gives the signals back to the handlers they had before.
    ~termination_signals() override;
    termination_signals(const termination_signals&) = delete;
    termination_signals& operator=(const termination_signals&) = delete;

private:
    void OnReadWaiting() override;
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override {}

    std::function<void()> on_request;
    bool watching = false;
    std::unique_ptr<wxEventLoopSource> source;
    struct sigaction previous[3] = {};
};

} // namespace platform
