#pragma once
// When a video recording starts a new file, and how the files are named: both follow the
// track, by the setting video_write_policy.

#include "position/track_position.h"

#include <cstdint>
#include <wx/string.h>

class split_policy {
public:
    // Policy texts are compared exactly; an unknown text records the whole trip in one file.
    explicit split_policy(const wxString& policy);

    // The file-name template that goes with the policy.
    const wxString& name_template() const { return file_template; }

    // Whether the frame at `next` belongs in a new file, given the previous frame at `last`.
    // Counts kilometre changes for the multi-kilometre policies.
    bool split_between(const TrackPosition& last, const TrackPosition& next);

    // Whether this frame of the trip starts a new file. A frame without a fix never does (it
    // goes into the open file); a frame with one is compared with the last frame that had one,
    // or with the default record before the first fix, so that a trip begun without a fix gets
    // a file named after the place once the fix comes. Call it for every frame, in order.
    bool split_before(const TrackPosition& next);

    // A new file has begun: kilometre changes count from here.
    void restart() { km_changes = 0; }

private:
    enum class rule { whole_trip, kilometres, section, distance };

    rule kind = rule::whole_trip;
    uint64_t km_per_file = 0;
    uint64_t km_changes = 0;
    wxString file_template;
    TrackPosition last_fix;
};
