#include "media/large_buffers.h"

#include <malloc.h>
#include <mutex>

namespace media {

void map_large_buffers_directly() {
    static std::once_flag once;
    // A fixed threshold also stops glibc from raising it after the first large free.
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 256 * 1024); });
}

} // namespace media
