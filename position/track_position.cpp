#include "position/track_position.h"

#include "platform/text.h"

#include <ctime>
#include <utility>

namespace {

int64_t now() {
    return static_cast<int64_t>(std::time(nullptr));
}

void take_numbers(TrackPosition& to, const TrackPosition& from) {
    to.frame = from.frame;
    to.time = from.time;
    to.server_value = from.server_value;
    to.abs = from.abs;
    to.km = from.km;
    to.m = from.m;
    to.has_fix = from.has_fix;
}

void take_texts(TrackPosition& to, TrackPosition& from) {
    to.dir = std::exchange(from.dir, {});
    to.way = std::exchange(from.way, {});
    to.pch = std::exchange(from.pch, {});
    to.peregon = std::exchange(from.peregon, {});
}

} // namespace

TrackPosition::TrackPosition() : time(now()) {}

TrackPosition::TrackPosition(int32_t frame_number) : frame(frame_number), time(now()) {}

TrackPosition::TrackPosition(int32_t frame_number, const position_fix& fix)
    : frame(frame_number), time(now()), server_value(fix.server_value), abs(fix.abs), km(fix.km),
      m(fix.m), dir(fix.dir), way(fix.way), pch(fix.pch), peregon(fix.peregon), has_fix(true) {}

TrackPosition::TrackPosition(TrackPosition&& other) noexcept {
    take_numbers(*this, other);
    take_texts(*this, other);
}

TrackPosition& TrackPosition::operator=(TrackPosition&& other) noexcept {
    if (this != &other) {
        take_numbers(*this, other);
        take_texts(*this, other);
    }
    return *this;
}

wxString TrackPosition::expand(const wxString& pattern) const {
    wxString result = pattern;
    // wxString::Replace resumes after each inserted value, so a value is never searched by
    // its own step, only by the later ones: the order below is part of the behaviour.
    result.Replace("%frame", wxString::Format("%08d", frame));
    result.Replace("%abs", wxString::Format("%0.2f", abs));
    result.Replace("%dir", platform::decode_server_text(dir));
    result.Replace("%way", platform::decode_server_text(way));
    result.Replace("%pch", platform::decode_server_text(pch));
    result.Replace("%km", wxString::Format("%04d", km));
    result.Replace("%m", wxString::Format("%0.0f", m));
    result.Replace("%peregon", platform::decode_server_text(peregon));
    return result;
}
