#include "app/loaded_trip.h"

#include "recording/trip_catalogue.h"

#include <wx/datetime.h>

namespace {

// Records of one second share their text: parse each distinct text once.
std::vector<int64_t> record_seconds(const trip_index& index) {
    std::vector<int64_t> seconds;
    seconds.reserve(index.records().size());
    const std::string* last_text = nullptr;
    int64_t last_seconds = -1;
    for (const index_record& record : index.records()) {
        if (last_text == nullptr || record.time_text != *last_text) {
            last_text = &record.time_text;
            last_seconds = loaded_trip::seconds_of(record.time_text);
        }
        seconds.push_back(last_seconds);
    }
    return seconds;
}

} // namespace

std::shared_ptr<const loaded_trip> loaded_trip::read(const std::filesystem::path& trip_folder) {
    auto trip = std::make_shared<loaded_trip>();
    trip->folder = trip_folder;
    if (!trip_catalogue::parse_folder_name(trip_folder.filename().string(), trip->camera,
                                           trip->started))
        trip->camera = trip_folder.filename().string();
    trip->index = trip_index::read(trip_folder / "data.idx");
    trip->marks = trip_marks::read(trip_folder);
    trip->timeline = playback_timeline(record_seconds(trip->index));
    return trip;
}

TrackPosition loaded_trip::position_at(size_t record) const {
    const index_record& frame = index.records().at(record);
    TrackPosition position(frame.frame);
    position.abs = frame.abs;
    position.km = frame.km;
    position.m = frame.m;
    position.dir.clear();
    position.way.clear();
    position.pch.clear();
    position.peregon.clear();
    return position;
}

int64_t loaded_trip::seconds_of(const std::string& time_text) {
    // The index writes times in the toolkit's default format; the process keeps the C locale.
    wxDateTime time;
    wxString::const_iterator end;
    const wxString text = wxString::FromUTF8(time_text.c_str());
    if (text.empty() || !time.ParseFormat(text, wxDefaultDateTimeFormat, &end) || end != text.end())
        return -1;
    return static_cast<int64_t>(time.GetTicks());
}
