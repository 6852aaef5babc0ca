#include "position/coord_client.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <stdexcept>
#include <utility>
#include <vector>

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

// How often a connect under way looks whether the client is being destroyed.
constexpr auto stop_poll_interval = std::chrono::milliseconds(50);

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

// A socket of `context` connected to the endpoint before the deadline; nothing when it is not,
// or when `abandon` is set meanwhile. Asynchronous, so that the attempt ends at the deadline
// rather than at the platform's own connect time-out (minutes, for an address that never
// answers).
std::optional<tcp::socket> connect_to(boost::asio::io_context& context,
                                      const tcp::endpoint& endpoint,
                                      clock_type::time_point deadline,
                                      const std::atomic<bool>& abandon) {
    tcp::socket candidate(context);
    std::optional<boost::system::error_code> outcome;
    candidate.async_connect(
        endpoint, [&outcome](const boost::system::error_code& result) { outcome = result; });
    context.restart();
    while (!outcome && !abandon && clock_type::now() < deadline)
        context.run_until(std::min(deadline, clock_type::now() + stop_poll_interval));
    boost::system::error_code error;
    if (!outcome) {
        candidate.close(error);
        // The cancelled attempt reports to its handler before the context is used again.
        context.restart();
        context.run();
        return std::nullopt;
    }
    if (*outcome)
        return std::nullopt;
    // Non-blocking from here on: an exchange waits with its own time limit.
    candidate.non_blocking(true, error);
    if (error)
        return std::nullopt;
    return std::optional<tcp::socket>(std::move(candidate));
}

std::optional<tcp::socket> connect_to_any(boost::asio::io_context& context,
                                          const std::vector<tcp::endpoint>& candidates,
                                          clock_type::time_point deadline,
                                          const std::atomic<bool>& abandon) {
    for (const auto& endpoint : candidates) {
        if (auto connected = connect_to(context, endpoint, deadline, abandon))
            return connected;
        if (clock_type::now() >= deadline || abandon)
            break;
    }
    return std::nullopt;
}

std::vector<tcp::endpoint> resolve(boost::asio::io_context& context, const server_address& address,
                                   tcp::resolver::flags flags) {
    tcp::resolver resolver(context);
    boost::system::error_code error;
    const auto resolved = resolver.resolve(address.host, address.port, flags, error);
    std::vector<tcp::endpoint> found;
    if (!error)
        for (const auto& entry : resolved)
            found.push_back(entry.endpoint());
    return found;
}

} // namespace

struct coord_client::network {
    boost::asio::io_context connect_io;
    boost::asio::io_context reconnect_io;
    tcp::socket socket{connect_io};
    std::vector<tcp::endpoint> endpoints;
};

coord_client::coord_client()
    : net(std::make_unique<network>()), reconnector([this] { reconnect_loop(); }) {}

coord_client::~coord_client() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake_reconnector.notify_all();
    reconnector.join();
    boost::system::error_code ignored;
    net->socket.close(ignored);
}

bool coord_client::connect(const std::string& host, const std::string& port) {
    const std::lock_guard<std::mutex> one_at_a_time(connect_lock);
    const server_address address{host, port};
    const std::vector<tcp::endpoint> found =
        resolve(net->connect_io, address, tcp::resolver::numeric_service);
    std::optional<tcp::socket> connected =
        connect_to_any(net->connect_io, found, clock::now() + connect_limit, stopping);

    const std::lock_guard<std::mutex> guard(lock);
    ++generation;
    server = address;
    net->endpoints = found;
    if (connected) {
        net->socket = std::move(*connected);
        lost = false;
        return true;
    }
    lost = true;
    next_attempt = clock::now() + reconnect_interval;
    wake_reconnector.notify_all();
    boost::system::error_code close_error;
    net->socket.close(close_error);
    if (close_error)
        throw boost::system::system_error(close_error, "close");
    return false;
}

void coord_client::reconnect_loop() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        if (!server || !lost || net->socket.is_open())
            wake_reconnector.wait(guard);
        else if (clock::now() < next_attempt)
            wake_reconnector.wait_until(guard, next_attempt);
        else
            reconnect_once(guard);
    }
}

void coord_client::reconnect_once(std::unique_lock<std::mutex>& guard) {
    const uint64_t attempt_of = generation;
    const server_address address = *server;
    std::vector<tcp::endpoint> candidates = net->endpoints;
    next_attempt = clock::now() + reconnect_interval;
    guard.unlock();
    // Only an address needs no name service: a lookup could hold the closing of the program.
    if (candidates.empty())
        candidates = resolve(net->reconnect_io, address,
                             tcp::resolver::numeric_host | tcp::resolver::numeric_service);
    std::optional<tcp::socket> connected =
        connect_to_any(net->reconnect_io, candidates, clock::now() + connect_limit, stopping);
    guard.lock();
    // A connect or close meanwhile decided the connection: this attempt is stale.
    if (generation != attempt_of)
        return;
    if (net->endpoints.empty())
        net->endpoints = candidates;
    // The loss ends with the first answer on the new connection, not here.
    if (connected && lost && !net->socket.is_open())
        net->socket = std::move(*connected);
}

exchange_result coord_client::exchange(int32_t path_sensor_value, double coordinate_offset) {
    const std::lock_guard<std::mutex> guard(lock);
    if (!net->socket.is_open())
        return {};
    answer.fill(0);
    const auto deadline = clock::now() + answer_limit;
    const coord_wire::request_bytes request =
        coord_wire::encode_request(path_sensor_value, coordinate_offset);
    size_t received = 0;
    try {
        send_request(request, deadline);
        received = receive_answer(deadline);
    } catch (...) {
        next_attempt = clock::now() + reconnect_interval;
        wake_reconnector.notify_all();
        // A connection made again that fails at once is still the same loss.
        if (std::exchange(lost, true))
            return {};
        throw;
    }

    exchange_result result;
    const std::optional<position_fix> fix = coord_wire::decode_answer(answer.data(), received);
    result.status = fix ? exchange_result::outcome::fix : exchange_result::outcome::no_fix;
    if (fix)
        result.fix = *fix;
    if (std::exchange(lost, false))
        result.reconnected = server;
    return result;
}

void coord_client::send_request(const coord_wire::request_bytes& request,
                                clock_type::time_point deadline) {
    // A socket with room in its send buffer is writable: try first, wait only when it is full.
    boost::system::error_code error;
    for (;;) {
        net->socket.send(boost::asio::buffer(request), 0, error);
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
        const size_t received = net->socket.receive(boost::asio::buffer(answer), 0, error);
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
            poll_once(net->socket.native_handle(), events, remaining_ms(deadline));
        if (outcome != poll_outcome::interrupted)
            return outcome == poll_outcome::ready;
    }
}

void coord_client::fail(const char* message) {
    boost::system::error_code error;
    net->socket.close(error);
    if (error)
        throw boost::system::system_error(error, "close");
    throw std::runtime_error(message);
}

void coord_client::close() {
    const std::lock_guard<std::mutex> guard(lock);
    boost::system::error_code error;
    net->socket.close(error);
    ++generation;
    server.reset();
    net->endpoints.clear();
    lost = false;
}

bool coord_client::is_connected() {
    const std::lock_guard<std::mutex> guard(lock);
    return net->socket.is_open();
}
