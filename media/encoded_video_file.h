#pragma once
// An AVI file of pictures encoded here, at 25 frames per second: MJPEG through libjpeg-turbo,
// MPEG-4 and H.264 through libavcodec, by the file's four-character code.

#include "media/avi_file.h"
#include "media/jpeg_encoder.h"
#include "media/video_frame.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
    // Forces what reached the file so far onto the disk; false when the disk refused.
    bool sync() { return file && file->sync(); }
    // Writes the pictures the encoder still holds and closes the file; returns how many it
    // wrote. Throws av_error when the file could not be finished.
    std::size_t finish();

    int width() const { return picture_width; }
    int height() const { return picture_height; }

private:
    void open_libavcodec(const std::string& path, uint32_t fourcc);
    void open_jpeg(const std::string& path, uint32_t fourcc);
    frame_handle frame_for_encoder(const video_frame& picture) const;
    std::size_t send(const AVFrame* frame);
    std::size_t write_jpeg(const video_frame& picture);

    int picture_width = 0;
    int picture_height = 0;
    // Exactly one of the two encodes: libavcodec for MPEG-4 and H.264, libjpeg-turbo for MJPEG.
    codec_context_handle encoder;
    std::unique_ptr<jpeg_encoder> jpeg;
    std::optional<avi_file> file;
    bool full_range = false;
    int64_t next_pts = 0;
    packet_handle packet = make_packet();
};

} // namespace media
