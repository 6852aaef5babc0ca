#pragma once
// OpenCV's own worker pool is of no use to the recorder: every camera already has a capture and
// a writer thread of its own, and on a two-core car PC the pool's hand-offs and the spinning of
// its idle workers cost more processor time than the split saves (about a millisecond for each
// live-view picture at 1080p). Image work then runs on the thread that asks for it.

namespace media {

// Called once as the program starts, before any picture is converted.
void keep_image_work_on_calling_threads();

} // namespace media
