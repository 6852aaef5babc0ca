// The JPEG encoder when memory runs out in the middle of a picture: an error for the caller, the
// encoder usable afterwards, and nothing of the failure left in the runtime. This program
// replaces the global allocation functions, so it runs on its own.

#include "media/jpeg_encoder.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <gtest/gtest.h>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

namespace {

// While not 0, allocations of this many bytes or more fail as they would on an exhausted
// machine.
std::atomic<std::size_t> refused_from{0};

void* allocate(std::size_t size) {
    const std::size_t limit = refused_from.load();
    if (limit != 0 && size >= limit)
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

class refusing_large_allocations {
public:
    explicit refusing_large_allocations(std::size_t bytes) { refused_from = bytes; }
    ~refusing_large_allocations() { refused_from = 0; }
    refusing_large_allocations(const refusing_large_allocations&) = delete;
    refusing_large_allocations& operator=(const refusing_large_allocations&) = delete;
};

// Noise at quality 100 compresses worse than one byte a pixel: the encoder's first buffer,
// one byte a pixel, must grow.
media::video_frame noise(int width, int height) {
    cv::Mat rgb(height, width, CV_8UC3);
    cv::randu(rgb, cv::Scalar::all(0), cv::Scalar::all(256));
    return media::video_frame::from_rgb(rgb);
}

} // namespace

void* operator new(std::size_t size) {
    if (void* const memory = allocate(size))
        return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

TEST(jpeg_encoder, memory_running_out_mid_picture_is_an_error_that_leaves_nothing_behind) {
    constexpr int side = 256;
    media::jpeg_encoder encoder(media::jpeg_settings::still(100));
    const media::video_frame picture = noise(side, side);
    {
        const refusing_large_allocations exhausted(side * side + 1);
        EXPECT_THROW(encoder.encode(picture), std::runtime_error);
    }
    // Outside every handler no exception may count as caught: one left behind by a jump out of
    // a handler would never be freed, and the runtime's bookkeeping would be off from then on.
    EXPECT_EQ(std::current_exception(), nullptr);

    const media::jpeg_bytes bytes = encoder.encode(picture);
    EXPECT_GT(bytes.size, std::size_t{side * side}) << "the buffer had to grow this time";
    const cv::Mat decoded = cv::imdecode(
        std::vector<unsigned char>(bytes.data, bytes.data + bytes.size), cv::IMREAD_COLOR);
    EXPECT_EQ(decoded.size(), cv::Size(side, side));
}
