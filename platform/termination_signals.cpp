#include "platform/termination_signals.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr std::array<int, 3> watched_signals = {SIGTERM, SIGINT, SIGHUP};

// Shared with the signal handler, which may touch nothing else.
int request_pipe[2] = {-1, -1};
std::atomic<bool> end_requested{false};
std::atomic<bool> watch_taken{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler needs a lock-free flag");

extern "C" void on_termination_signal(int number) {
    if (end_requested.exchange(true))
        ::_exit(128 + number);
    const int saved_errno = errno;
    const char byte = 1;
    // A full pipe already holds a request: nothing is lost when this write fails.
    [[maybe_unused]] const ssize_t ignored = ::write(request_pipe[1], &byte, 1);
    errno = saved_errno;
}

} // namespace

termination_signals::termination_signals(std::function<void()> on_request)
    : on_request(std::move(on_request)) {
    if (watch_taken.exchange(true))
        return;
    if (::pipe2(request_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        watch_taken = false;
        return;
    }
    watching = true;
    end_requested = false;
    source.reset(wxEventLoopBase::AddSourceForFD(request_pipe[0], this, wxEVENT_SOURCE_INPUT));
    struct sigaction action = {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < watched_signals.size(); ++i)
        ::sigaction(watched_signals[i], &action, &previous[i]);
}

termination_signals::~termination_signals() {
    if (!watching)
        return;
    for (size_t i = 0; i < watched_signals.size(); ++i)
        ::sigaction(watched_signals[i], &previous[i], nullptr);
    source.reset();
    ::close(request_pipe[0]);
    ::close(request_pipe[1]);
    request_pipe[0] = request_pipe[1] = -1;
    watch_taken = false;
}

void termination_signals::OnReadWaiting() {
    char bytes[16];
    while (::read(request_pipe[0], bytes, sizeof bytes) > 0) {
    }
    on_request();
}

} // namespace platform
