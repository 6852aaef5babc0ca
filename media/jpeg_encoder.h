#pragma once
// JPEG pictures encoded by libjpeg-turbo straight from a 4:2:0 picture's planes: no colour
// conversion, SIMD transforms and Huffman coding. Huffman tables are fitted to one picture and
// kept for the following ones, which then need a single pass each; they are fitted again at the
// first picture after refit(), a second after the first fit and at least every refit interval.

#include "media/video_frame.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace media {

// One encoded picture; valid until the encoder encodes the next one.
struct jpeg_bytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

struct jpeg_settings {
    // Quantisation tables in natural (row by row) order, each value 1..255.
    std::array<uint16_t, 64> luma_table{};
    std::array<uint16_t, 64> chroma_table{};
    std::chrono::steady_clock::duration refit_interval = std::chrono::seconds(10);

    // Video frames: libavcodec's MJPEG table at quantiser 3 made 8 % coarser, which gives the
    // same luma PSNR as libavcodec (it quantises with a dead zone, libjpeg rounds to nearest).
    static jpeg_settings video();
    // Stills: the IJG tables at that quality (1..100), as common JPEG writers use them.
    static jpeg_settings still(int quality);
};

class jpeg_encoder {
public:
    explicit jpeg_encoder(const jpeg_settings& settings);
    ~jpeg_encoder();
    jpeg_encoder(const jpeg_encoder&) = delete;
    jpeg_encoder& operator=(const jpeg_encoder&) = delete;

    // Encodes the picture as one baseline JFIF image (4:2:0, full range; a video-range picture
    // is converted first). Throws std::runtime_error when libjpeg refuses (out of memory) and
    // std::invalid_argument for an empty picture.
    jpeg_bytes encode(const video_frame& picture);

    // The next picture gets freshly fitted tables (a new file starts, say).
    void refit() {
        fitted = false;
        fits = 0;
    }

private:
    struct state;
    bool fit_due() const;

    std::unique_ptr<state> codec;
    std::chrono::steady_clock::duration refit_interval;
    bool fitted = false;
    int fits = 0;
    std::chrono::steady_clock::time_point fitted_at;
};

} // namespace media
