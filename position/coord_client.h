#pragma once
// The one connection to the coordinate server, shared by every capture thread and
// (re)connected by the main window. One lock covers a whole exchange and a connect, so
// request and answer pairs never interleave and a reconnect never cuts into an exchange.

#include "position/coord_wire.h"
#include "position/position_fix.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

struct exchange_result {
    enum class outcome { not_connected, no_fix, fix };
    outcome status = outcome::not_connected;
    position_fix fix; // meaningful when status is fix
};

class coord_client {
public:
    // How long an exchange waits for the socket to become writable, then readable. A server
    // that accepts but never answers must not hold a capture thread (and with it the closing
    // of its camera pane) for longer than this.
    static constexpr std::chrono::milliseconds wait_limit{2000};

    coord_client();
    ~coord_client();
    coord_client(const coord_client&) = delete;
    coord_client& operator=(const coord_client&) = delete;

    // Connects to host:port (port as a decimal number); a connection that stood before is
    // closed first. True when the connection stands.
    bool connect(const std::string& host, const std::string& port);

    // One request and its answer. Throws std::runtime_error with "CoordServer wait error",
    // "CoordServer send error" or "CoordServer receive error" (the connection is then closed).
    exchange_result exchange(int32_t path_sensor_value, double coordinate_offset);

    // Closes the connection; later exchanges return not_connected until connect succeeds.
    void close();

    bool is_connected();

private:
    enum class readiness { read, write };

    // Closes the socket and throws `message`; a failing close throws its own error instead.
    [[noreturn]] void fail(const char* message);
    // Waits for the socket until `deadline`; false on error or when the time is up.
    bool wait_until_ready(readiness what, std::chrono::steady_clock::time_point deadline);
    // The 64 bytes with one send once the socket is writable.
    void send_request(const coord_wire::request_bytes& request,
                      std::chrono::steady_clock::time_point deadline);
    // One receive of what the server has sent, at most the whole answer buffer.
    size_t receive_answer(std::chrono::steady_clock::time_point deadline);

    std::mutex lock; // guards socket and answer: one exchange or connect at a time
    boost::asio::io_context io;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::ip::tcp::socket socket;
    std::array<uint8_t, coord_wire::answer_capacity> answer{};
};
