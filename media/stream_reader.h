#pragma once
// Reads one camera's RTSP stream (over TCP) and decodes it picture by picture. Opening and every
// read are bounded in time, and a stop request from another thread ends either at once, so a
// dead or frozen camera never holds its thread for long.

#include "media/av_handles.h"
#include "media/buffer_pool.h"
#include "media/encoded_packet.h"
#include "media/frame_normaliser.h"
#include "media/video_frame.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace media {

// What the journal says about an opened stream, with the numbers the recorder has always shown.
struct stream_facts {
    double fps = 0.0;
    // The stream's codec tag, else the first four letters of the codec's name ("h264", "mjpe").
    uint32_t fourcc = 0;
    int width = 0;
    int height = 0;
    AVCodecID codec = AV_CODEC_ID_NONE;
};

// Why the last opening failed, as far as the camera or the network said.
enum class open_failure {
    none,
    login_refused,      // 401: the user name or password was refused
    not_found,          // 404: no stream at that path
    connection_refused, // nothing listens at that address and port
    no_answer,          // connected, or tried to, but nothing came in time
    other,              // anything else: failure_text() tells
};

class stream_reader {
public:
    // `timeout` bounds opening and each read; `stop_test`, when given, is asked alongside the
    // stop flag while the reader waits (on the reading thread).
    explicit stream_reader(std::chrono::milliseconds timeout, std::function<bool()> stop_test = {});
    ~stream_reader();
    stream_reader(const stream_reader&) = delete;
    stream_reader& operator=(const stream_reader&) = delete;

    // Any thread: makes the current and every later open or read give up at once.
    void request_stop() { stop_flag.store(true); }
    bool stop_requested() const;

    // Opens the stream and its decoder; false when the camera cannot be reached, does not answer
    // in time, has no video or an unknown codec.
    bool open(const std::string& url);
    void close();
    bool is_open() const { return input != nullptr; }
    const stream_facts& facts() const { return opened; }
    // After open() gave false: why, and FFmpeg's own words for it.
    open_failure failure() const { return failed; }
    const std::string& failure_text() const { return failed_text; }

    // Keep the packets pictures are decoded from, for a recording that copies the stream.
    void keep_packets(bool keep) { keeping_packets = keep; }
    bool keeps_packets() const { return keeping_packets && is_open(); }

    // The next picture; false when the stream ended, failed, fell silent for the timeout or a
    // stop was requested: the reader is then closed (after a stop only by close(), so that the
    // decoder's last pictures can still be drained). With packets kept, `packets` receives every
    // video packet read since the previous picture, in stream order.
    bool read(video_frame& picture, std::vector<encoded_packet>& packets);
    // The pictures the decoder still holds, one a call, once no more packets are to be read
    // (also after a stop request); false when there are no more.
    bool drain(video_frame& picture);

private:
    static int interrupt_callback(void* reader);
    // The decoder's pictures come from a pool of this reader's (frames queued for the writer
    // outlive the decoder's own pool, which never gives back what a backlog took).
    static int pooled_picture(AVCodecContext* context, AVFrame* frame, int flags);
    bool must_interrupt() const;
    void start_deadline();
    bool open_decoder();
    bool fail(open_failure reason, int av_code);
    bool receive_picture(video_frame& picture);
    bool send_packet(const AVPacket& packet, std::vector<encoded_packet>& packets);

    std::chrono::milliseconds timeout;
    std::function<bool()> stop_test;
    std::atomic<bool> stop_flag{false};
    std::chrono::steady_clock::time_point deadline;

    input_context_handle input;
    codec_context_handle decoder;
    int video_stream = -1;
    stream_facts opened;
    open_failure failed = open_failure::none;
    std::string failed_text;
    std::shared_ptr<const stream_parameters> parameters;
    frame_normaliser normaliser;
    std::optional<buffer_pool> decoded_pictures;
    packet_handle packet;
    bool keeping_packets = false;
    bool draining = false;
};

// The four-character code the journal shows for a stream with these parameters.
uint32_t journal_fourcc(const AVCodecParameters& codec);

} // namespace media
