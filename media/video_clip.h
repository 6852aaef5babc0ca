#pragma once
// Frames of recorded AVI files copied into one new AVI without decoding: each part starts at
// the key frame at or before its first wanted frame (every frame of MJPEG, one of every few of
// MPEG-4 and H.264), so the clip plays from its first packet.

#include "media/avi_file.h"

#include <cstdint>
#include <optional>
#include <string>

namespace media {

class video_clip {
public:
    static constexpr AVRational frame_duration{1, 25};

    // The clip's file (UTF-8 path); made by the first append.
    explicit video_clip(std::string path);
    ~video_clip();
    video_clip(const video_clip&) = delete;
    video_clip& operator=(const video_clip&) = delete;

    // Appends frames `first`..`last` (0-based places) of the AVI file at `source`, from the key
    // frame at or before `first`; returns that key frame's place. Throws std::runtime_error
    // when the source cannot be read, ends before `last`, or holds another kind of video than
    // the parts before it, and av_error when the clip cannot be written.
    int64_t append(const std::string& source, int64_t first, int64_t last);
    // Writes the clip's end; throws av_error.
    void finish();
    int64_t frames() const { return written; }

private:
    void write_packet(AVPacket& packet, const AVCodecParameters& codec);

    std::string path;
    std::optional<avi_file> file;
    AVCodecParameters* format = nullptr;
    int64_t written = 0;
};

} // namespace media
