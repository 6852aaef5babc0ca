// Picture buffers: reused while a stream is steady, given back once a backlog is written, and
// safe to release after their pool is gone, on any thread.

#include "media/buffer_pool.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(BufferPool, ASteadyStreamReusesItsBuffers) {
    media::buffer_pool pool(4096);
    AVBufferRef* first = pool.take();
    const uint8_t* data = first->data;
    av_buffer_unref(&first);
    AVBufferRef* second = pool.take();
    EXPECT_EQ(second->data, data);
    EXPECT_EQ(second->size, 4096u);
    EXPECT_EQ(pool.in_use(), 1u);
    av_buffer_unref(&second);
    EXPECT_EQ(pool.in_use(), 0u);
    EXPECT_EQ(pool.idle(), 1u);
}

TEST(BufferPool, ABacklogsBuffersAreFreedOnceWritten) {
    media::buffer_pool pool(1 << 20);
    std::vector<AVBufferRef*> backlog;
    for (int i = 0; i < 40; ++i)
        backlog.push_back(pool.take());
    EXPECT_EQ(pool.in_use(), 40u);
    // Released by another thread, as the writer releases what the capture thread decoded.
    std::thread writer([&] {
        for (AVBufferRef*& buffer : backlog)
            av_buffer_unref(&buffer);
    });
    writer.join();
    EXPECT_EQ(pool.in_use(), 0u);
    EXPECT_EQ(pool.idle(), media::buffer_pool::idle_kept);
}

TEST(BufferPool, BuffersOutliveTheirPool) {
    AVBufferRef* kept = nullptr;
    {
        media::buffer_pool pool(256);
        kept = pool.take();
        kept->data[255] = 7;
    }
    EXPECT_EQ(kept->data[255], 7);
    av_buffer_unref(&kept);
    EXPECT_EQ(kept, nullptr);
}

} // namespace
