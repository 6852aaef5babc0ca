#pragma once
// When each frame of a trip comes in playback at the pace it was recorded. The index keeps whole
// seconds, so the frames of one second are spread evenly over it; a pause longer than a few
// seconds (the car standing, nothing written) is shortened, and frames without a time take the
// file's nominal pace. No windows.

#include <cstddef>
#include <cstdint>
#include <vector>

class playback_timeline {
public:
    // Playback never waits longer than this between two frames.
    static constexpr int64_t longest_pause_ms = 2000;
    // The pace of frames whose time is unknown: the files' nominal 25 frames a second.
    static constexpr int64_t nominal_step_ms = 40;

    playback_timeline() = default;
    // One time per record, seconds since the epoch; a negative time is unknown.
    explicit playback_timeline(const std::vector<int64_t>& record_seconds);

    size_t size() const { return at_ms.size(); }
    // Milliseconds from the first record to this one.
    int64_t position_of(size_t record) const { return at_ms[record]; }
    // The last record due at that position (clamped to the trip).
    size_t record_at(int64_t position_ms) const;

private:
    std::vector<int64_t> at_ms;
};
