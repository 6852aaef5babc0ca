#pragma once

namespace media {

// Makes the C library give every buffer of 256 KiB or more (pictures, encoded frames) its own
// mapping, returned to the system when freed. Left to its default, glibc soon serves such
// buffers from the heap, where the small allocations that live on between frames (the frame
// index's elements) split the freed ones: a 1080p recording then grew by one picture per
// frame. Process-wide; the first call sets it, later calls do nothing.
void map_large_buffers_directly();

} // namespace media
