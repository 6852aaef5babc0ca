#pragma once
// An AVI file of a camera's own H.264 packets, copied without decoding. It starts at a key
// frame, carries the parameter sets in the stream before every key frame (so that any player
// opens it, whatever it makes of the file header) and counts its time from its first packet.

#include "media/avi_file.h"
#include "media/encoded_packet.h"

extern "C" {
#include <libavcodec/bsf.h>
}

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace media {

struct bsf_context_deleter {
    void operator()(AVBSFContext* context) const { av_bsf_free(&context); }
};
using bsf_context_handle = std::unique_ptr<AVBSFContext, bsf_context_deleter>;

class copied_video_file {
public:
    static constexpr int frames_per_second = 25;

    // Whether packets of this stream can be copied into AVI here.
    static bool can_copy(const stream_parameters& stream);

    // Creates the file for packets of `stream`; throws av_error.
    copied_video_file(const std::string& path, std::shared_ptr<const stream_parameters> stream);

    // The stream whose packets the file takes: a camera that reopened its stream needs a new
    // file.
    const std::shared_ptr<const stream_parameters>& stream() const { return parameters; }

    // Appends one packet; the first one must be a key frame. Throws av_error when the file
    // could not be written, and std::invalid_argument for a packet of another stream or a
    // first packet that is no key frame.
    void write(const encoded_packet& packet);
    // Forces what reached the file so far onto the disk; false when the disk refused.
    bool sync() { return file && file->sync(); }
    // Closes the file; throws av_error when it could not be finished.
    void finish();

    std::size_t packets() const { return packets_written; }

private:
    std::shared_ptr<const stream_parameters> parameters;
    bsf_context_handle parameter_sets;
    std::optional<avi_file> file;
    packet_handle packet = make_packet();
    std::size_t packets_written = 0;
};

} // namespace media
