#include "media/buffer_pool.h"

#include "platform/memory.h"

#include <mutex>
#include <new>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
}

namespace media {

struct buffer_pool::state {
    explicit state(std::size_t size) : buffer_size(size) {}
    ~state() {
        for (uint8_t* data : idle)
            av_free(data);
    }

    const std::size_t buffer_size;
    mutable std::mutex lock;
    std::vector<uint8_t*> idle; // guarded by lock
    std::size_t in_use = 0;     // guarded by lock
};

// FFmpeg calls this on whichever thread drops a buffer's last reference; `opaque` holds the
// pool's state alive until then.
void buffer_pool::give_back(void* opaque, uint8_t* data) {
    const std::unique_ptr<std::shared_ptr<state>> holder(
        static_cast<std::shared_ptr<state>*>(opaque));
    state& pool = **holder;
    {
        const std::lock_guard<std::mutex> lock(pool.lock);
        --pool.in_use;
        if (pool.idle.size() < buffer_pool::idle_kept) {
            pool.idle.push_back(data);
            return;
        }
    }
    av_free(data);
}

buffer_pool::buffer_pool(std::size_t size) : shared(std::make_shared<state>(size)) {
    // Buffers a pool frees must really go back, or memory would still keep the worst backlog.
    static std::once_flag allocator_tuned;
    std::call_once(allocator_tuned, platform::give_large_blocks_back_when_freed);
}

std::size_t buffer_pool::size() const {
    return shared->buffer_size;
}

std::size_t buffer_pool::in_use() const {
    const std::lock_guard<std::mutex> lock(shared->lock);
    return shared->in_use;
}

std::size_t buffer_pool::idle() const {
    const std::lock_guard<std::mutex> lock(shared->lock);
    return shared->idle.size();
}

AVBufferRef* buffer_pool::take() {
    uint8_t* data = nullptr;
    {
        const std::lock_guard<std::mutex> lock(shared->lock);
        if (!shared->idle.empty()) {
            data = shared->idle.back();
            shared->idle.pop_back();
        }
    }
    if (data == nullptr)
        data = static_cast<uint8_t*>(av_malloc(shared->buffer_size));
    if (data == nullptr)
        throw std::bad_alloc();
    auto holder = std::make_unique<std::shared_ptr<state>>(shared);
    AVBufferRef* buffer = av_buffer_create(data, shared->buffer_size, give_back, holder.get(), 0);
    if (buffer == nullptr) {
        av_free(data);
        throw std::bad_alloc();
    }
    holder.release(); // give_back owns it now
    const std::lock_guard<std::mutex> lock(shared->lock);
    ++shared->in_use;
    return buffer;
}

} // namespace media
