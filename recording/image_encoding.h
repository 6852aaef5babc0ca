#pragma once
// The still-image encoders of the recorder, tuned to keep up with a moving car: a camera-like
// 1920x1080 picture must be saved well within the time the car needs for one write step.

#include "media/jpeg_encoder.h"
#include "media/video_frame.h"

#include <cstddef>
#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <vector>

// The bytes of one encoded image, owned by whoever encoded them.
struct image_bytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// PNG stays lossless and readable by any decoder; only zlib's effort is lowered. `bgr` and
// `bytes` are the caller's, kept between pictures so that a steady stream does not allocate.
bool encode_png(const media::video_frame& picture, cv::Mat& bgr, std::vector<unsigned char>& bytes);

// JPEG stills straight from the picture's planes, at the IJG quality 95 that common writers use
// by default, with Huffman tables fitted to the pictures.
media::jpeg_settings still_jpeg_settings();

// Writes the bytes as the whole file; false when any part of it failed (disk full, no folder),
// and then no part of the file is left behind.
bool write_whole_file(const std::filesystem::path& file, image_bytes bytes);
