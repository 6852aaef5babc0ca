#pragma once
// Picture buffers of one size that go back to their pool when the last picture holding them lets
// go. The pool keeps only a few idle buffers and frees the rest, so that the memory of a long
// recording follows the pictures in flight, not the worst backlog it ever had. A pool lives as
// long as the last of its buffers.

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/buffer.h>
}

namespace media {

class buffer_pool {
public:
    // Idle buffers kept for reuse; a steady stream needs one or two.
    static constexpr std::size_t idle_kept = 3;

    explicit buffer_pool(std::size_t size);
    // A buffer of the pool's size, reused or new; throws std::bad_alloc.
    AVBufferRef* take();
    std::size_t size() const;
    // Buffers now held by pictures, and idle in the pool: for tests.
    std::size_t in_use() const;
    std::size_t idle() const;

private:
    struct state;
    static void give_back(void* opaque, uint8_t* data);

    std::shared_ptr<state> shared;
};

} // namespace media
