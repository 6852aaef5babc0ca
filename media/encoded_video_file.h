#pragma once
// An AVI file of pictures encoded here: MJPEG, MPEG-4 or H.264 by the file's four-character
// code, at 25 frames per second, with the settings the recorder's files have always had.

#include "media/avi_file.h"
#include "media/video_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace media {

class encoded_video_file {
public:
    static constexpr int frames_per_second = 25;

    // Whether a four-character code ("MJPG", "XVID", "DIVX", "X264") has an encoder here.
    static bool can_encode(uint32_t fourcc);
    // Whether the encoder of that code takes full-range pictures (JPEG levels).
    static bool wants_full_range(uint32_t fourcc);

    // Opens the encoder and creates the file; throws av_error (or std::invalid_argument for a
    // code without an encoder).
    encoded_video_file(const std::string& path, uint32_t fourcc, int width, int height);

    // Encodes one picture of the file's size. Returns how many pictures reached the file with
    // it: 1 for MJPEG and MPEG-4; H.264 holds a few back and hands them on later. Throws
    // av_error when the file could not be written; pictures not counted are then lost.
    std::size_t write(const video_frame& picture);
    // Writes the pictures the encoder still holds and closes the file; returns how many it
    // wrote. Throws av_error when the file could not be finished.
    std::size_t finish();

    int width() const { return encoder->width; }
    int height() const { return encoder->height; }

private:
    frame_handle frame_for_encoder(const video_frame& picture) const;
    std::size_t send(const AVFrame* frame);

    codec_context_handle encoder;
    std::optional<avi_file> file;
    bool full_range = false;
    int64_t next_pts = 0;
    packet_handle packet = make_packet();
};

} // namespace media
