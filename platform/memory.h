#pragma once
// How the C library's allocator treats large blocks.

namespace platform {

// Large blocks (pictures, an encoder's buffers) are taken from and given back to the system
// each time, rather than kept in the allocator's heap once freed, so that a process's memory
// shrinks again after a backlog. Process-wide; idempotent.
void give_large_blocks_back_when_freed();

} // namespace platform
