#include "tests/support/rtsp_stand_in.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace test_support {

namespace {

int listen_on_free_loopback_port(int& port) {
    const int socket_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_fd < 0)
        throw std::runtime_error("stand-in camera: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_fd, 8) != 0 ||
        ::getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket_fd);
        throw std::runtime_error("stand-in camera: cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return socket_fd;
}

// The "CSeq" value of a complete request, so the answer belongs to it.
std::string sequence_number(const std::string& request) {
    const auto at = request.find("CSeq:");
    if (at == std::string::npos)
        return "0";
    const auto begin = request.find_first_not_of(' ', at + 5);
    return request.substr(begin, request.find("\r\n", begin) - begin);
}

} // namespace

rtsp_stand_in::rtsp_stand_in(behaviour kind)
    : kind(kind), listener(listen_on_free_loopback_port(port)) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(listener);
        throw std::runtime_error("stand-in camera: no pipe");
    }
    wake_read = wake[0];
    wake_write = wake[1];
    server = std::thread([this] { serve(); });
}

rtsp_stand_in::~rtsp_stand_in() {
    const char stop = 's';
    (void)!::write(wake_write, &stop, 1);
    server.join();
    ::close(wake_read);
    ::close(wake_write);
    ::close(listener);
}

std::string rtsp_stand_in::url() const {
    return "rtsp://127.0.0.1:" + std::to_string(port) + "/cam";
}

void rtsp_stand_in::serve() {
    // Each connection with the request text received so far.
    std::map<int, std::string> clients;
    for (;;) {
        std::vector<pollfd> watched{{wake_read, POLLIN, 0}, {listener, POLLIN, 0}};
        for (const auto& client : clients)
            watched.push_back({client.first, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0)
            continue;
        if (watched[0].revents != 0)
            break;
        if (watched[1].revents != 0) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                clients[client];
                ++accepted;
            }
        }
        for (std::size_t i = 2; i < watched.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            const int client = watched[i].fd;
            char buffer[2048];
            const ssize_t received = ::read(client, buffer, sizeof buffer);
            if (received <= 0) {
                ::close(client);
                clients.erase(client);
                continue;
            }
            std::string& request = clients[client];
            request.append(buffer, static_cast<std::size_t>(received));
            if (kind == behaviour::silent || request.find("\r\n\r\n") == std::string::npos)
                continue;
            const std::string answer =
                "RTSP/1.0 503 Service Unavailable\r\nCSeq: " + sequence_number(request) +
                "\r\n\r\n";
            (void)!::write(client, answer.data(), answer.size());
            request.clear();
        }
    }
    for (const auto& client : clients)
        ::close(client.first);
}

} // namespace test_support
