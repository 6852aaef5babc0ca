#include "archive/trip_passes.h"

#include "archive/trip_index.h"
#include "archive/trip_route.h"

#include <algorithm>

namespace {

int sense_of(double from, double to) {
    return to > from ? 1 : (to < from ? -1 : 0);
}

trip_pass start_pass(int number, size_t position, const index_record& record,
                     const route_texts& texts) {
    trip_pass pass;
    pass.number = number;
    pass.dir = texts.dir;
    pass.way = texts.way;
    pass.first_record = pass.last_record = position;
    pass.first_frame = pass.last_frame = record.frame;
    pass.abs_low = pass.abs_high = record.abs;
    pass.place_low = pass.place_high = record.place();
    return pass;
}

void extend_pass(trip_pass& pass, size_t position, const index_record& record) {
    pass.last_record = position;
    pass.last_frame = record.frame;
    pass.abs_low = std::min(pass.abs_low, record.abs);
    pass.abs_high = std::max(pass.abs_high, record.abs);
    pass.place_low = std::min(pass.place_low, record.place());
    pass.place_high = std::max(pass.place_high, record.place());
}

} // namespace

std::vector<trip_pass> trip_passes::of(const trip_index& index, const trip_route& route) {
    std::vector<trip_pass> passes;
    const std::vector<index_record>& records = index.records();
    const index_record* previous = nullptr;
    for (size_t i = 0; i < records.size(); ++i) {
        const index_record& record = records[i];
        if (record.without_fix())
            continue;
        const route_texts& texts = route.at_frame(record.frame);
        const int sense = previous != nullptr ? sense_of(previous->abs, record.abs) : 0;
        const bool other_track =
            passes.empty() || passes.back().dir != texts.dir || passes.back().way != texts.way;
        // A car that turned back leaves the frame before in the pass that ended there.
        const bool turned =
            !other_track && sense != 0 && passes.back().sense != 0 && sense != passes.back().sense;
        if (other_track || turned) {
            passes.push_back(start_pass(static_cast<int>(passes.size()), i, record, texts));
            // A turn gives the new pass its sense; a change of track says nothing of it, as
            // the coordinates of another line may lie anywhere.
            passes.back().sense = turned ? sense : 0;
        } else {
            trip_pass& pass = passes.back();
            if (pass.sense == 0)
                pass.sense = sense;
            extend_pass(pass, i, record);
        }
        previous = &record;
    }
    return passes;
}
