#pragma once
// Where the car stood when a frame was taken. Copied with every frame; copies share nothing,
// so a copy may cross to another thread without a lock.

#include "position/position_fix.h"

#include <cstdint>
#include <string>
#include <wx/string.h>

struct TrackPosition {
    int32_t frame = 0;
    int64_t time = 0;
    int32_t server_value = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    std::string dir = "000000";
    std::string way = "0";
    std::string pch = "0";
    std::string peregon = "0";
    // True when the coordinate server gave a fix for this frame; the other fields then hold it.
    bool has_fix = false;

    // Defaults, stamped with the current time.
    TrackPosition();
    // A frame without a fix: defaults with the given frame number.
    explicit TrackPosition(int32_t frame_number);
    // A frame with a fix decoded from the coordinate server.
    TrackPosition(int32_t frame_number, const position_fix& fix);

    TrackPosition(const TrackPosition&) = default;
    TrackPosition& operator=(const TrackPosition&) = default;
    // Takes the source's texts and leaves them empty; the numbers stay as they were.
    TrackPosition(TrackPosition&& other) noexcept;
    TrackPosition& operator=(TrackPosition&& other) noexcept;

    // Fills a subtitle or file-name template: %frame %abs %dir %way %pch %km %m %peregon,
    // replaced in that order, each at every place it stands.
    wxString expand(const wxString& pattern) const;
};
