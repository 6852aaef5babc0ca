#pragma once
// One AVI file written through libavformat's muxer: a single video stream whose packets reach
// the disk as they are written, so that a packet reported written is really in the file.

#include "media/av_handles.h"
#include "platform/durable_file.h"

#include <memory>
#include <optional>
#include <string>

namespace media {

struct output_context_deleter {
    void operator()(AVFormatContext* context) const;
};
using output_context_handle = std::unique_ptr<AVFormatContext, output_context_deleter>;

class avi_file {
public:
    // Creates the file and writes its header; throws av_error when either fails. `codec` gives
    // the stream (its codec tag included), `time_base` the unit of the packets' time stamps.
    avi_file(const std::string& path, const AVCodecParameters& codec, AVRational time_base);

    // Appends one packet of the stream (time stamps in the time base given above) and flushes
    // it to the file. Throws av_error when any part of it could not be written.
    void write(AVPacket& packet);
    // Forces what was written so far onto the disk: after a power cut the file holds at least
    // every packet written before this returned. False when the disk refused.
    bool sync();
    // Writes the trailer and closes the file; throws av_error when either fails. A file that
    // is dropped without finish() is closed unchecked: it failed already.
    void finish();

private:
    output_context_handle context;
    // The same file, opened once more for forcing it to the disk.
    std::optional<platform::durable_file> on_disk;
    AVRational packet_time_base;
};

} // namespace media
