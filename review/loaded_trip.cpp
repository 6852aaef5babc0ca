#include "review/loaded_trip.h"

#include "archive/trip_catalogue.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"

#include <cmath>

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
            last_seconds = record_time_seconds(record.time_text).value_or(-1);
        }
        seconds.push_back(last_seconds);
    }
    return seconds;
}

// The record whose time lies nearest to the moment; nothing when no record has a time.
std::optional<size_t> nearest_in_time(const std::vector<int64_t>& seconds, int64_t moment) {
    std::optional<size_t> best;
    int64_t best_gap = 0;
    for (size_t record = 0; record < seconds.size(); ++record) {
        if (seconds[record] < 0)
            continue;
        const int64_t gap = std::llabs(seconds[record] - moment);
        if (!best || gap < best_gap) {
            best = record;
            best_gap = gap;
        }
    }
    return best;
}

} // namespace

std::shared_ptr<const loaded_trip> loaded_trip::read(const std::filesystem::path& trip_folder) {
    auto trip = std::make_shared<loaded_trip>();
    trip->folder = trip_folder;
    if (!parse_trip_folder_name(trip_folder.filename().string(), trip->camera, trip->started))
        trip->camera = trip_folder.filename().string();
    trip->index = trip_index::read(trip_folder / trip_files::index);
    trip->route = trip_route::read(trip_folder);
    trip->passes = trip_passes::of(trip->index, trip->route);
    trip->marks = trip_marks::read(trip_folder);
    trip->seconds = record_seconds(trip->index);
    trip->timeline = playback_timeline(trip->seconds);
    return trip;
}

TrackPosition loaded_trip::position_at(size_t record) const {
    const index_record& frame = index.records().at(record);
    const route_texts& texts = route.at_frame(frame.frame);
    TrackPosition position(frame.frame);
    position.abs = frame.abs;
    position.km = frame.km;
    position.m = frame.m;
    position.dir = texts.dir;
    position.way = texts.way;
    position.pch = texts.pch;
    position.peregon = texts.peregon;
    return position;
}

std::optional<size_t> loaded_trip::nearest_between(double abs, size_t first, size_t last) const {
    const auto& records = index.records();
    if (records.empty() || first >= records.size())
        return std::nullopt;
    last = std::min(last, records.size() - 1);
    std::optional<size_t> best;
    for (size_t record = first; record <= last; ++record)
        if (!best || std::fabs(records[record].abs - abs) < std::fabs(records[*best].abs - abs))
            best = record;
    return best;
}

std::optional<size_t> loaded_trip::nearest_at_moment(double abs, int64_t moment) const {
    const std::optional<size_t> then = moment < 0 ? std::nullopt : nearest_in_time(seconds, moment);
    if (then)
        for (const trip_pass& pass : passes)
            if (*then >= pass.first_record && *then <= pass.last_record)
                return nearest_between(abs, pass.first_record, pass.last_record);
    return index.nearest_to_abs(abs);
}
