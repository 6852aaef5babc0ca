#pragma once
// The recorded picture of one frame of a trip, read straight from its file: a video file
// decoded at the frame's place (the file stays open for the next frame), a still image loaded
// whole. No windows.

#include "media/video_file_reader.h"
#include "media/video_frame.h"

#include <filesystem>
#include <memory>
#include <opencv2/core/mat.hpp>
#include <string>

struct trip_picture {
    media::video_frame video; // a frame of a video file
    cv::Mat still;            // or a still image, 8-bit RGB
};

class trip_frame_source {
public:
    explicit trip_frame_source(std::filesystem::path trip_folder);

    // Throws std::runtime_error when the file is missing or the frame cannot be read.
    trip_picture read(const std::string& file, int64_t frame_in_file);

private:
    std::filesystem::path folder;
    std::unique_ptr<media::video_file_reader> video;
    std::string video_file;
};
