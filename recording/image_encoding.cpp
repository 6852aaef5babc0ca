#include "recording/image_encoding.h"

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <system_error>

const std::vector<int>& png_parameters() {
    // Without a compression level the encoder takes its fast path (the "sub" row filter and
    // zlib's fastest level); Huffman coding alone then costs least on a noisy camera picture,
    // and a picture at 10 m steps cannot be compressed much further anyway.
    static const std::vector<int> parameters = {cv::IMWRITE_PNG_STRATEGY,
                                                cv::IMWRITE_PNG_STRATEGY_HUFFMAN_ONLY};
    return parameters;
}

const std::vector<int>& jpeg_parameters() {
    static const std::vector<int> parameters = {cv::IMWRITE_JPEG_QUALITY, 95};
    return parameters;
}

bool encode_picture(const cv::Mat& bgr, const char* extension, const std::vector<int>& parameters,
                    std::vector<unsigned char>& bytes) {
    return cv::imencode(extension, bgr, bytes, parameters);
}

bool write_whole_file(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream == nullptr)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    written = std::fclose(stream) == 0 && written;
    if (!written) {
        // Half an image is no recording; it would only take the name of the next one.
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    return written;
}
