#pragma once
// The still-image encoders of the recorder, tuned to keep up with a moving car: a camera-like
// 1920x1080 picture must be saved well within the time the car needs for one write step.

#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <vector>

// PNG stays lossless and readable by any decoder; only zlib's effort is lowered.
const std::vector<int>& png_parameters();
const std::vector<int>& jpeg_parameters();

// Encodes an 8-bit BGR picture (".png" or ".jpeg") into `bytes`.
bool encode_picture(const cv::Mat& bgr, const char* extension, const std::vector<int>& parameters,
                    std::vector<unsigned char>& bytes);

// Writes the bytes as the whole file; false when any part of it failed (disk full, no folder),
// and then no part of the file is left behind.
bool write_whole_file(const std::filesystem::path& file, const std::vector<unsigned char>& bytes);
