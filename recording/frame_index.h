#pragma once
// The frame index of a trip, "data.idx": every frame written, in order, with the file that
// holds it, its place in that file, its frame number, coordinate and time. Kept in memory and
// saved whole, by writing a temporary file and renaming it over the index, so a crash leaves
// the last complete save behind rather than nothing or half a file.

#include "position/track_position.h"

#include <chrono>
#include <cstdint>
#include <wx/string.h>
#include <wx/xml/xml.h>

class FrameIndex {
public:
    // While frames come, the index is saved at least this often.
    static constexpr std::chrono::milliseconds default_save_interval{30000};

    FrameIndex();
    // Saves the index a last time.
    ~FrameIndex();
    FrameIndex(const FrameIndex&) = delete;
    FrameIndex& operator=(const FrameIndex&) = delete;

    // Where "data.idx" goes; nothing is saved before it is set.
    void set_path(const wxString& index_path) { path = index_path; }
    void set_save_interval(std::chrono::milliseconds interval) { save_interval = interval; }

    // Lists one written frame; saves the index when the save interval has passed.
    void add(const wxString& file, uint64_t frame_in_file, const TrackPosition& position);

    // Writes the whole index now. False when it could not be written; the previous save, if
    // any, is then still in place.
    bool save();

    size_t frames() const { return frame_count; }

private:
    using clock = std::chrono::steady_clock;

    wxString path;
    wxXmlDocument document;
    wxXmlNode* root = nullptr;
    // The last "frame" element: appending after it keeps a long trip's index linear in time.
    wxXmlNode* last_frame = nullptr;
    size_t frame_count = 0;
    std::chrono::milliseconds save_interval = default_save_interval;
    clock::time_point last_save = clock::now();
};
