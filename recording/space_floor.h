#pragma once
// The last bytes of the recording disk belong to the journal, the settings and the system:
// recording stops while less than the floor is free and starts again only once clearly more
// is, so that a disk near the floor does not stop and start with every file.

#include <cstdint>
#include <optional>

class space_floor {
public:
    static constexpr std::uintmax_t mebibyte = std::uintmax_t{1} << 20;
    static constexpr std::uintmax_t stop_below = 256 * mebibyte;
    static constexpr std::uintmax_t resume_at = 512 * mebibyte;

    enum class change { none, stopped, resumed };

    // A new reading of the free bytes; nothing when the disk could not be asked, which
    // changes nothing.
    change update(std::optional<std::uintmax_t> free_bytes);
    bool stopped() const { return holding; }

private:
    bool holding = false;
};
