#pragma once
// The one connection to the coordinate server, shared by every capture thread and
// (re)connected by the main window. One lock covers a whole exchange and a connect, so
// request and answer pairs never interleave.

#include <cstdint>
#include <mutex>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "position/position_fix.h"

struct exchange_result {
    enum class outcome { not_connected, no_fix, fix };
    outcome status = outcome::not_connected;
    position_fix fix; // meaningful when status is fix
};

class coord_client {
public:
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
    std::mutex lock; // guards socket: one exchange or connect at a time
    boost::asio::io_context io;
    boost::asio::ip::tcp::resolver resolver;
    boost::asio::ip::tcp::socket socket;
};
