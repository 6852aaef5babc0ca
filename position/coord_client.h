#pragma once
// The one connection to the coordinate server, shared by every capture thread and
// (re)connected by the main window. One lock covers a whole exchange and a connect, so
// request and answer pairs never interleave and a reconnect never cuts into an exchange.
//
// A connection that fails is made again by the exchanges themselves: at most one attempt every
// two seconds, within the same time limit as an exchange. The loss is raised once (the first
// failed exchange); the exchange that first succeeds on a connection made again says so, so
// that each capture thread's caller can write one row for the loss and one for the return.

#include "position/coord_wire.h"
#include "position/position_fix.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Where the coordinate server is, as the settings name it.
struct server_address {
    std::string host;
    std::string port;
};

struct exchange_result {
    enum class outcome { not_connected, no_fix, fix };
    outcome status = outcome::not_connected;
    position_fix fix; // meaningful when status is fix
    // Set on the first answer after the connection was lost and made again by the client.
    std::optional<server_address> reconnected;
};

class coord_client {
public:
    // How long an exchange waits for the socket to become writable, then readable, and how long
    // a connect may take. A server that accepts but never answers must not hold a capture thread
    // (and with it the closing of its camera pane) for longer than this.
    static constexpr std::chrono::milliseconds wait_limit{2000};
    // The least time between two attempts to make a lost connection again.
    static constexpr std::chrono::milliseconds reconnect_interval{2000};

    coord_client();
    ~coord_client();
    coord_client(const coord_client&) = delete;
    coord_client& operator=(const coord_client&) = delete;

    // Connects to host:port (port as a decimal number); a connection that stood before is
    // closed first. True when the connection stands. When it does not, the exchanges go on
    // trying (host names only as resolved by an earlier connect, or numeric addresses).
    bool connect(const std::string& host, const std::string& port);

    // One request and its answer, after making a lost connection again when it is time. Throws
    // std::runtime_error with "CoordServer wait error", "CoordServer send error" or
    // "CoordServer receive error" when a standing connection fails (it is then closed); while
    // it stays lost, further failures give not_connected.
    exchange_result exchange(int32_t path_sensor_value, double coordinate_offset);

    // Closes the connection for good: exchanges return not_connected until connect succeeds.
    void close();

    bool is_connected();

private:
    enum class readiness { read, write };
    using clock = std::chrono::steady_clock;

    // Closes the socket and throws `message`; a failing close throws its own error instead.
    [[noreturn]] void fail(const char* message);
    // Waits for the socket until `deadline`; false on error or when the time is up.
    bool wait_until_ready(readiness what, clock::time_point deadline);
    // The first of the endpoints that accepts a connection before the deadline.
    bool connect_to_any(const std::vector<boost::asio::ip::tcp::endpoint>& candidates,
                        clock::time_point deadline);
    bool connect_to(const boost::asio::ip::tcp::endpoint& endpoint, clock::time_point deadline);
    // An attempt to make the lost connection again, when one is due.
    bool reconnect_when_due(clock::time_point deadline);
    // The 64 bytes with one send once the socket is writable.
    void send_request(const coord_wire::request_bytes& request, clock::time_point deadline);
    // One receive of what the server has sent, at most the whole answer buffer.
    size_t receive_answer(clock::time_point deadline);

    std::mutex lock; // guards everything below: one exchange or connect at a time
    boost::asio::io_context io;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::ip::tcp::socket socket;
    std::array<uint8_t, coord_wire::answer_capacity> answer{};
    // The server of the last connect, and its addresses once resolved; no server after close.
    std::optional<server_address> server;
    std::vector<boost::asio::ip::tcp::endpoint> endpoints;
    // Lost: the connection failed (or the last connect did) and has not answered since.
    bool lost = false;
    clock::time_point next_attempt;
};
