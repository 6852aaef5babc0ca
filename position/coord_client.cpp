#include "position/coord_client.h"

#include <algorithm>
#include <boost/asio/connect.hpp>
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
    boost::system::error_code error;
    const auto endpoints = resolver.resolve(host, port, tcp::resolver::numeric_service, error);
    if (!error) {
        for (const auto& entry : endpoints) {
            socket.close(error);
            socket.open(entry.endpoint().protocol(), error);
            if (!error)
                socket.connect(entry.endpoint(), error);
            // Non-blocking from here on: an exchange waits with its own time limit.
            if (!error)
                socket.non_blocking(true, error);
            if (!error)
                return true;
        }
    }
    boost::system::error_code close_error;
    socket.close(close_error);
    if (close_error)
        throw boost::system::system_error(close_error, "close");
    return false;
}

exchange_result coord_client::exchange(int32_t path_sensor_value, double coordinate_offset) {
    const std::lock_guard<std::mutex> guard(lock);
    answer.fill(0);
    if (!socket.is_open())
        return {};

    const coord_wire::request_bytes request =
        coord_wire::encode_request(path_sensor_value, coordinate_offset);
    const auto deadline = clock_type::now() + wait_limit;
    send_request(request, deadline);
    const size_t received = receive_answer(deadline);

    exchange_result result;
    const std::optional<position_fix> fix = coord_wire::decode_answer(answer.data(), received);
    result.status = fix ? exchange_result::outcome::fix : exchange_result::outcome::no_fix;
    if (fix)
        result.fix = *fix;
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
}

bool coord_client::is_connected() {
    const std::lock_guard<std::mutex> guard(lock);
    return socket.is_open();
}
