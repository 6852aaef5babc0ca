#pragma once
// The frame index of a trip, "data.idx": every frame written, in order, with the file that
// holds it, its place in that file, its frame number, coordinate and time. Only the records not
// yet saved are kept in memory; a save appends them to the file in place, so it costs what is
// new however long the trip, and a crash at any moment leaves a file that parses and lists
// every record of the last completed save. Beside it goes "route.csv", the route texts of the
// trip's fixed frames whenever they change.

#include "position/track_position.h"
#include "recording/growing_xml_file.h"
#include "recording/route_log.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <wx/string.h>
#include <wx/xml/xml.h>

class FrameIndex {
public:
    // While frames come, the index is saved at least this often.
    static constexpr std::chrono::milliseconds default_save_interval{30000};

    FrameIndex();
    // Saves every record not saved yet.
    ~FrameIndex();
    FrameIndex(const FrameIndex&) = delete;
    FrameIndex& operator=(const FrameIndex&) = delete;

    // Where "data.idx" goes (and route.csv beside it); nothing is saved before it is set.
    void set_path(const wxString& index_path);
    const wxString& file_path() const { return path; }
    void set_save_interval(std::chrono::milliseconds interval) { save_interval = interval; }
    // The owner calls save() itself, right after the frames it lists are on the disk; add()
    // then never saves.
    void save_only_when_told() { told_only = true; }

    // Lists one written frame. Saves the index when the save interval has passed (a failed save
    // is tried again then), and at once after a save that left a record for later. False when
    // that save failed.
    bool add(const wxString& file, uint64_t frame_in_file, const TrackPosition& position);

    // Writes the records added since the last save. When the file's layout asks for it, the
    // newest record is left for the next save (the next add makes it). False when the index
    // could not be written; its records then wait for the next save.
    bool save();
    // Writes every record not saved yet: the end of the trip. A trip without frames gets an
    // index with an empty "section".
    bool close();

    // Whether the last save failed.
    bool failing() const { return save_failed; }
    size_t frames() const { return frame_count; }

private:
    using clock = std::chrono::steady_clock;

    bool write_records(bool every_record);
    // The unsaved records as the toolkit's XML writer lays them out, split where the file
    // takes them: the document's head, one line per record and the closing tag.
    struct laid_out;
    laid_out lay_out() const;
    void forget_saved(size_t records);

    wxString path;
    std::optional<growing_xml_file> file;
    route_log route;
    wxXmlDocument unsaved;
    wxXmlNode* root = nullptr;
    // The last "frame" element: appending after it keeps adding linear in time.
    wxXmlNode* last_frame = nullptr;
    size_t unsaved_count = 0;
    size_t frame_count = 0;
    bool held_back = false;
    bool save_failed = false;
    bool told_only = false;
    std::chrono::milliseconds save_interval = default_save_interval;
    clock::time_point last_save = clock::now();
};
