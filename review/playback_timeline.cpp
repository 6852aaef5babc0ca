#include "review/playback_timeline.h"

#include <algorithm>

namespace {

// The step from each record to the next: a run of records stamped with one second shares the
// time to the next stamped second.
std::vector<int64_t> steps_of(const std::vector<int64_t>& seconds) {
    std::vector<int64_t> steps(seconds.size(), playback_timeline::nominal_step_ms);
    size_t run_start = 0;
    while (run_start < seconds.size()) {
        size_t run_end = run_start + 1;
        while (run_end < seconds.size() && seconds[run_end] == seconds[run_start])
            ++run_end;
        const bool timed = seconds[run_start] >= 0 && run_end < seconds.size() &&
                           seconds[run_end] > seconds[run_start];
        if (timed) {
            const int64_t span_ms = (seconds[run_end] - seconds[run_start]) * 1000;
            const auto count = static_cast<int64_t>(run_end - run_start);
            const int64_t step = std::min(playback_timeline::longest_pause_ms,
                                          std::max<int64_t>(1, span_ms / count));
            std::fill(steps.begin() + static_cast<std::ptrdiff_t>(run_start),
                      steps.begin() + static_cast<std::ptrdiff_t>(run_end), step);
        } else if (run_end == seconds.size() && seconds[run_start] >= 0) {
            // The last second's frames: spread over that second.
            const auto count = static_cast<int64_t>(run_end - run_start);
            std::fill(steps.begin() + static_cast<std::ptrdiff_t>(run_start), steps.end(),
                      std::max<int64_t>(1, 1000 / count));
        }
        run_start = run_end;
    }
    return steps;
}

} // namespace

playback_timeline::playback_timeline(const std::vector<int64_t>& record_seconds) {
    const std::vector<int64_t> steps = steps_of(record_seconds);
    at_ms.reserve(steps.size());
    int64_t position = 0;
    for (const int64_t step : steps) {
        at_ms.push_back(position);
        position += step;
    }
}

size_t playback_timeline::record_at(int64_t position_ms) const {
    if (at_ms.empty())
        return 0;
    const auto after = std::upper_bound(at_ms.begin(), at_ms.end(), position_ms);
    return after == at_ms.begin() ? 0 : static_cast<size_t>(after - at_ms.begin()) - 1;
}
