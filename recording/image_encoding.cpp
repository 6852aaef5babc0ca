#include "recording/image_encoding.h"

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <system_error>

namespace {

// The quality OpenCV's and libjpeg's writers take when given none.
constexpr int still_jpeg_quality = 95;

} // namespace

bool encode_png(const media::video_frame& picture, cv::Mat& bgr,
                std::vector<unsigned char>& bytes) {
    // Without a compression level the encoder takes its fast path (the "sub" row filter and
    // zlib's fastest level); Huffman coding alone then costs least on a noisy camera picture,
    // and a picture at 10 m steps cannot be compressed much further anyway.
    static const std::vector<int> parameters = {cv::IMWRITE_PNG_STRATEGY,
                                                cv::IMWRITE_PNG_STRATEGY_HUFFMAN_ONLY};
    picture.to_bgr(bgr);
    return cv::imencode(".png", bgr, bytes, parameters);
}

media::jpeg_settings still_jpeg_settings() {
    return media::jpeg_settings::still(still_jpeg_quality);
}

bool write_whole_file(const std::filesystem::path& file, image_bytes bytes) {
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream == nullptr)
        return false;
    bool written = std::fwrite(bytes.data, 1, bytes.size, stream) == bytes.size;
    written = std::fclose(stream) == 0 && written;
    if (!written) {
        // Half an image is no recording; it would only take the name of the next one.
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    return written;
}
