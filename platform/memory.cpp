#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void give_large_blocks_back_when_freed() {
#if defined(__GLIBC__)
    // glibc maps blocks from 128 KB up on their own, but raises that limit to the size of each
    // mapped block freed: after the first picture, pictures would stay in the heap for good. A
    // fixed limit keeps every picture mapped.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    // Windows' heap already hands blocks of this size to the system directly.
}

} // namespace platform
