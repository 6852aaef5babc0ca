#pragma once
// The one connection to the coordinate server, shared by every capture thread and
// (re)connected by the main window. One lock covers a whole exchange and the change of the
// connection, so request and answer pairs never interleave; connecting itself happens outside
// it, so a slow connect never holds an exchange.
//
// An exchange waits for its answer no longer than answer_limit: a frozen server must not stall
// a camera. A connection that fails (or answers late) is lost; while it is lost every exchange
// returns at once without a fix, and a thread of the client's own makes the connection again,
// at most one attempt every two seconds. The loss is raised once (the first failed exchange);
// the exchange that first succeeds on a connection made again says so, so that each capture
// thread's caller can write one row for the loss and one for the return.

#include "position/coord_wire.h"
#include "position/position_fix.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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
    // How long one exchange waits for the server's answer. A server on the car's network
    // answers in a few milliseconds; a later answer counts as none and the connection as lost.
    static constexpr std::chrono::milliseconds answer_limit{200};
    // How long a connect may take.
    static constexpr std::chrono::milliseconds connect_limit{2000};
    // The least time between two attempts to make a lost connection again.
    static constexpr std::chrono::milliseconds reconnect_interval{2000};

    // Starts the thread that makes lost connections again.
    coord_client();
    // Stops that thread (an attempt under way ends within connect_limit) and closes.
    ~coord_client();
    coord_client(const coord_client&) = delete;
    coord_client& operator=(const coord_client&) = delete;

    // Connects to host:port (port as a decimal number); a connection that stood before is
    // replaced. True when the connection stands. When it does not, the client's thread goes on
    // trying (host names only as resolved by this connect, or numeric addresses).
    bool connect(const std::string& host, const std::string& port);

    // One request and its answer. Throws std::runtime_error with "CoordServer wait error",
    // "CoordServer send error" or "CoordServer receive error" when a standing connection fails
    // (it is then closed and lost); while it stays lost, exchanges return not_connected at once.
    exchange_result exchange(int32_t path_sensor_value, double coordinate_offset);

    // Closes the connection for good: exchanges return not_connected until connect succeeds.
    void close();

    bool is_connected();

private:
    enum class readiness { read, write };
    using clock = std::chrono::steady_clock;
    // The sockets and name lookups, kept out of this header: the networking library's headers
    // would otherwise be compiled again in every file that sees the client.
    struct network;

    // The reconnecting thread's body: waits for a loss, then attempts when they are due.
    void reconnect_loop();
    // One attempt, made without the lock; installs the connection when nothing changed
    // meanwhile.
    void reconnect_once(std::unique_lock<std::mutex>& guard);

    // Closes the socket and throws `message`; a failing close throws its own error instead.
    [[noreturn]] void fail(const char* message);
    // Waits for the socket until `deadline`; false on error or when the time is up.
    bool wait_until_ready(readiness what, clock::time_point deadline);
    // The 64 bytes with one send once the socket is writable.
    void send_request(const coord_wire::request_bytes& request, clock::time_point deadline);
    // One receive of what the server has sent, at most the whole answer buffer.
    size_t receive_answer(clock::time_point deadline);

    // The main window's connects, one at a time; the network's `connect_io` is theirs alone.
    std::mutex connect_lock;

    std::mutex lock; // guards everything below: one exchange or change of connection at a time
    std::condition_variable wake_reconnector;
    // The connection and the server's addresses once resolved (both under the lock), and the
    // contexts of connect and of the reconnecting thread.
    const std::unique_ptr<network> net;
    std::array<uint8_t, coord_wire::answer_capacity> answer{};
    // The server of the last connect; none after close.
    std::optional<server_address> server;
    // Lost: the connection failed (or the last connect did) and has not answered since.
    bool lost = false;
    clock::time_point next_attempt;
    // Counts connects and closes: an attempt begun before one of them is not installed.
    uint64_t generation = 0;
    // Set once, as the client goes; read without the lock by a connect under way.
    std::atomic<bool> stopping{false};

    // Last: starts once everything it uses is made.
    std::thread reconnector;
};
