#pragma once
// Reads single frames of a recorded video file by their place in the file: seeks to the key
// frame at or before the wanted frame and decodes forward to it. A frame just after the last one
// read is decoded straight on, so stepping through a file never seeks.

#include "media/av_handles.h"
#include "media/video_frame.h"

#include <cstdint>
#include <string>

namespace media {

class video_file_reader {
public:
    // Opens the file (UTF-8 path); throws std::runtime_error when it is missing or holds no
    // video stream that can be decoded.
    explicit video_file_reader(const std::string& path);

    // The frame at the 0-based place in the file. Throws std::runtime_error when the file ends
    // before it or cannot be decoded there.
    video_frame read(int64_t frame_in_file);

    const std::string& path() const { return file_path; }

private:
    int64_t frame_to_timestamp(int64_t frame_in_file) const;
    int64_t place_of(const AVFrame& frame) const;
    int64_t place_of_stamp(int64_t stamp) const;
    void seek_before(int64_t frame_in_file);
    // The next decoded picture, or null at the end of the file.
    frame_handle next_picture();
    video_frame to_video_frame(frame_handle picture);
    [[noreturn]] void fail(const std::string& what, int code = 0) const;

    std::string file_path;
    input_context_handle input;
    codec_context_handle decoder;
    sws_context_handle converter;
    packet_handle packet;
    int stream_index = -1;
    AVRational frame_duration{1, 25};
    // The place of the frame last returned by next_picture; -1 before the first.
    int64_t last_place = -1;
    // The frame last returned by read, asked again when a pane repaints.
    video_frame last_read;
    int64_t last_read_place = -1;
    bool input_ended = false;
    // Every frame a key frame (MJPEG): a seek never costs more than the one frame.
    bool intra_only = false;
    // Pictures stored out of the order they are shown (B-frames): the file's time stamps count
    // packets in stored order, so pictures are counted from the key frame a read starts at.
    bool reordered = false;
    // The place of the first packet sent since the last seek; -1 until one is sent.
    int64_t first_sent_place = -1;
};

} // namespace media
