#pragma once
// A camera that is there but never streams: a TCP server on 127.0.0.1 (a free port) that
// accepts RTSP connections and either stays silent or answers every request with
// "RTSP/1.0 503 Service Unavailable". It stops, closing every connection, when the object goes.

#include <atomic>
#include <string>
#include <thread>

namespace test_support {

class rtsp_stand_in {
public:
    enum class behaviour { silent, unavailable };

    explicit rtsp_stand_in(behaviour kind);
    ~rtsp_stand_in();
    rtsp_stand_in(const rtsp_stand_in&) = delete;
    rtsp_stand_in& operator=(const rtsp_stand_in&) = delete;

    std::string url() const;
    // Connections accepted so far.
    int connections() const { return accepted.load(); }

private:
    void serve();

    behaviour kind;
    int port = 0; // set while the listener is made
    int listener = -1;
    int wake_read = -1;
    int wake_write = -1;
    std::atomic<int> accepted{0};
    std::thread server;
};

} // namespace test_support
