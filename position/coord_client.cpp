#include "position/coord_client.h"

#include <algorithm>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

namespace {

using boost::asio::ip::tcp;
using clock_type = std::chrono::steady_clock;

constexpr char wait_error[] = "CoordServer wait error";
constexpr char send_error[] = "CoordServer send error";
constexpr char receive_error[] = "CoordServer receive error";

enum class poll_outcome { ready, timed_out, interrupted, failed };

// A socket that reports an error or a hang-up counts as ready: the send or receive that
// follows reports what happened.
poll_outcome poll_once(tcp::socket::native_handle_type handle, short events, int timeout_ms) {
#ifdef _WIN32
    WSAPOLLFD entry{handle, events, 0};
    const int result = WSAPoll(&entry, 1, timeout_ms);
    const bool interrupted = false;
#else
    pollfd entry{handle, events, 0};
    const int result = ::poll(&entry, 1, timeout_ms);
    const bool interrupted = result < 0 && errno == EINTR;
#endif
    if (result == 0)
        return poll_outcome::timed_out;
    if (interrupted)
        return poll_outcome::interrupted;
    if (result < 0 || (entry.revents & POLLNVAL) != 0)
        return poll_outcome::failed;
    return poll_outcome::ready;
}

int remaining_ms(clock_type::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock_type::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

coord_client::coord_client() : resolver(io), socket(io) {}

coord_client::~coord_client() {
    boost::system::error_code ignored;
    socket.close(ignored);
}

bool coord_client::connect(const std::string& host, const std::string& port) {
    const std::lock_guard<std::mutex> guard(lock);
    server = server_address{host, port};
    endpoints.clear();
    const auto deadline = clock::now() + wait_limit;
    boost::system::error_code error;
    const auto resolved = resolver.resolve(host, port, tcp::resolver::numeric_service, error);
    if (!error)
        for (const auto& entry : resolved)
            endpoints.push_back(entry.endpoint());
    if (connect_to_any(endpoints, deadline)) {
        lost = false;
        return true;
    }
    lost = true;
    next_attempt = clock::now() + reconnect_interval;
    boost::system::error_code close_error;
    socket.close(close_error);
    if (close_error)
        throw boost::system::system_error(close_error, "close");
    return false;
}

bool coord_client::connect_to_any(const std::vector<tcp::endpoint>& candidates,
                                  clock::time_point deadline) {
    for (const auto& endpoint : candidates) {
        if (connect_to(endpoint, deadline))
            return true;
        if (clock::now() >= deadline)
            break;
    }
    return false;
}

bool coord_client::connect_to(const tcp::endpoint& endpoint, clock::time_point deadline) {
    // Asynchronous, so that the attempt ends at the deadline rather than at the platform's own
    // connect time-out (minutes, for an address that never answers).
    boost::system::error_code error;
    socket.close(error);
    std::optional<boost::system::error_code> outcome;
    socket.async_connect(endpoint,
                         [&outcome](const boost::system::error_code& result) { outcome = result; });
    io.restart();
    io.run_until(deadline);
    if (!outcome) {
        socket.close(error);
        // The cancelled attempt reports to its handler before the context is used again.
        io.restart();
        io.run();
        return false;
    }
    if (*outcome)
        return false;
    // Non-blocking from here on: an exchange waits with its own time limit.
    socket.non_blocking(true, error);
    return !error;
}

bool coord_client::reconnect_when_due(clock::time_point deadline) {
    if (!server || !lost || clock::now() < next_attempt)
        return false;
    if (endpoints.empty()) {
        // Only an address needs no name service here: a capture thread must not wait on one.
        boost::system::error_code error;
        const auto resolved =
            resolver.resolve(server->host, server->port,
                             tcp::resolver::numeric_host | tcp::resolver::numeric_service, error);
        if (!error)
            for (const auto& entry : resolved)
                endpoints.push_back(entry.endpoint());
    }
    if (connect_to_any(endpoints, deadline))
        return true;
    boost::system::error_code ignored;
    socket.close(ignored);
    next_attempt = clock::now() + reconnect_interval;
    return false;
}

exchange_result coord_client::exchange(int32_t path_sensor_value, double coordinate_offset) {
    const std::lock_guard<std::mutex> guard(lock);
    answer.fill(0);
    const auto deadline = clock::now() + wait_limit;
    if (!socket.is_open() && !reconnect_when_due(deadline))
        return {};

    const coord_wire::request_bytes request =
        coord_wire::encode_request(path_sensor_value, coordinate_offset);
    size_t received = 0;
    try {
        send_request(request, deadline);
        received = receive_answer(deadline);
    } catch (...) {
        next_attempt = clock::now() + reconnect_interval;
        // A connection made again that fails at once is still the same loss.
        if (lost)
            return {};
        lost = true;
        throw;
    }

    exchange_result result;
    const std::optional<position_fix> fix = coord_wire::decode_answer(answer.data(), received);
    result.status = fix ? exchange_result::outcome::fix : exchange_result::outcome::no_fix;
    if (fix)
        result.fix = *fix;
    if (lost) {
        lost = false;
        result.reconnected = server;
    }
    return result;
}

void coord_client::send_request(const coord_wire::request_bytes& request,
                                clock_type::time_point deadline) {
    // A socket with room in its send buffer is writable: try first, wait only when it is full.
    boost::system::error_code error;
    for (;;) {
        socket.send(boost::asio::buffer(request), 0, error);
        if (error != boost::asio::error::would_block && error != boost::asio::error::try_again)
            break;
        if (!wait_until_ready(readiness::write, deadline))
            fail(wait_error);
    }
    if (error)
        fail(send_error);
}

size_t coord_client::receive_answer(clock_type::time_point deadline) {
    // The socket is non-blocking, so a readiness report that turns out empty goes back to
    // waiting instead of blocking past the deadline.
    boost::system::error_code error;
    for (;;) {
        if (!wait_until_ready(readiness::read, deadline))
            fail(wait_error);
        const size_t received = socket.receive(boost::asio::buffer(answer), 0, error);
        if (error == boost::asio::error::would_block || error == boost::asio::error::try_again)
            continue;
        if (error || received == 0)
            fail(receive_error);
        return received;
    }
}

bool coord_client::wait_until_ready(readiness what, clock_type::time_point deadline) {
    const short events = what == readiness::read ? POLLIN : POLLOUT;
    for (;;) {
        const poll_outcome outcome =
            poll_once(socket.native_handle(), events, remaining_ms(deadline));
        if (outcome != poll_outcome::interrupted)
            return outcome == poll_outcome::ready;
    }
}

void coord_client::fail(const char* message) {
    boost::system::error_code error;
    socket.close(error);
    if (error)
        throw boost::system::system_error(error, "close");
    throw std::runtime_error(message);
}

void coord_client::close() {
    const std::lock_guard<std::mutex> guard(lock);
    boost::system::error_code error;
    socket.close(error);
    server.reset();
    endpoints.clear();
    lost = false;
}

bool coord_client::is_connected() {
    const std::lock_guard<std::mutex> guard(lock);
    return socket.is_open();
}
