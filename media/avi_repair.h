#pragma once
// An AVI file that a power cut or a crash left unfinished: its header counts no frames, it has no
// index, and its last chunk may be torn. Repairing copies every whole packet, in order, into a
// new file through the muxer, which writes the header's sizes and the index that players seek
// by, and puts it in place of the old one.

#include <cstddef>
#include <filesystem>
#include <functional>

namespace media {

struct avi_repair_result {
    enum class outcome {
        whole,     // the file was finished already; nothing was changed
        rewritten, // the whole packets are in a finished file now
        no_room,   // the disk has no room for the copy: the file stays as it was, readable
        failed,    // the copy could not be written: the file stays as it was
        no_frames, // the file held no whole frame and nothing else: it was removed
        set_aside, // the file cannot be read but holds bytes: renamed to <name>.damaged
    };
    outcome what = outcome::failed;
    // Frames the file holds now, from its first: the whole packets of its video.
    std::size_t frames = 0;
};

// Repairs the file in place of itself. `go_on`, asked before each packet of the copy, may stop
// it: the file then stays as it was (outcome failed).
avi_repair_result repair_avi(const std::filesystem::path& file,
                             const std::function<bool()>& go_on = {});

} // namespace media
