// Coordinate exchanges per second on loopback: the client against kestrel-coordsim, and as the
// baseline a bare 64-byte request/answer ping-pong on plain sockets in this process. The last
// line is the client's rate over the bare rate.

#include "position/coord_client.h"
#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int exchanges = 20000;
constexpr size_t request_size = 64;

using clock_type = std::chrono::steady_clock;

double per_second(int count, clock_type::duration took) {
    return count / std::chrono::duration<double>(took).count();
}

bool transfer_all(int fd, char* data, size_t size, bool sending) {
    size_t done = 0;
    while (done < size) {
        const ssize_t result = sending ? ::send(fd, data + done, size - done, MSG_NOSIGNAL)
                                       : ::recv(fd, data + done, size - done, 0);
        if (result <= 0)
            return false;
        done += static_cast<size_t>(result);
    }
    return true;
}

int connected_socket(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("connect failed");
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// A plain server in a thread that answers every 64 bytes with 64 bytes.
double bare_ping_pong_rate() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen");
    std::thread server([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char buffer[request_size];
        while (transfer_all(fd, buffer, sizeof buffer, false) &&
               transfer_all(fd, buffer, sizeof buffer, true)) {
        }
        ::close(fd);
    });
    const int fd = connected_socket(ntohs(address.sin_port));
    char buffer[request_size] = {};
    const auto started = clock_type::now();
    for (int i = 0; i < exchanges; ++i) {
        if (!transfer_all(fd, buffer, sizeof buffer, true) ||
            !transfer_all(fd, buffer, sizeof buffer, false))
            throw std::runtime_error("bare ping-pong broke off");
    }
    const double rate = per_second(exchanges, clock_type::now() - started);
    ::close(fd);
    server.join();
    ::close(listener);
    return rate;
}

// The same plain client against the simulator: separates the client's cost from the server's.
double plain_client_rate(const std::string& port) {
    const int fd = connected_socket(static_cast<unsigned short>(std::stoi(port)));
    char request[request_size] = "CXQUEST2";
    char answer[1024];
    const auto started = clock_type::now();
    for (int i = 0; i < exchanges; ++i) {
        if (!transfer_all(fd, request, sizeof request, true) ||
            ::recv(fd, answer, sizeof answer, 0) <= 0)
            throw std::runtime_error("plain exchange with the simulator broke off");
    }
    const double rate = per_second(exchanges, clock_type::now() - started);
    ::close(fd);
    return rate;
}

double client_rate(const std::string& port) {
    coord_client client;
    if (!client.connect("127.0.0.1", port))
        throw std::runtime_error("cannot connect to the simulator");
    const auto started = clock_type::now();
    for (int i = 0; i < exchanges; ++i) {
        if (client.exchange(i, 0.0).status != exchange_result::outcome::fix)
            throw std::runtime_error("the simulator gave no fix");
    }
    return per_second(exchanges, clock_type::now() - started);
}

} // namespace

int main() {
    try {
        double client = 0.0;
        double plain = 0.0;
        {
            test_support::child_process simulator =
                test_support::start_tool("coordsim/kestrel-coordsim", {"--port", "0", "--quiet"});
            const std::string port = test_support::first_line_value(simulator);
            client_rate(port); // warm-up
            client = client_rate(port);
            plain = plain_client_rate(port);
        } // the simulator has stopped before anything is printed
        const double bare = bare_ping_pong_rate();
        std::printf("coord_client against kestrel-coordsim: %.0f exchanges/s\n", client);
        std::printf("plain socket client against kestrel-coordsim: %.0f exchanges/s\n", plain);
        std::printf("bare 64-byte ping-pong on plain sockets: %.0f exchanges/s\n", bare);
        std::printf("bench_coord exchanges=%d ratio=%.3f\n", exchanges, client / bare);
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_coord: %s\n", error.what());
        return 1;
    }
}
