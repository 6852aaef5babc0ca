#include "offload_commands.h"

#include "archive/archive_verify.h"
#include "archive/offload_log.h"
#include "archive/trip_offload.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string rate(uint64_t bytes, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB/s",
                  seconds > 0.0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
    return text;
}

std::string minutes_seconds(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string outcome_word(offload_outcome outcome) {
    switch (outcome) {
    case offload_outcome::copied:
        return "copied";
    case offload_outcome::finished:
        return "finished";
    case offload_outcome::replaced:
        return "replaced";
    case offload_outcome::already_there:
        return "already there";
    case offload_outcome::would_copy:
        return "would copy";
    case offload_outcome::being_written:
        return "skipped (still being written)";
    case offload_outcome::cut:
        return "skipped (left by a power cut; its repair did not finish)";
    case offload_outcome::refused:
        return "refused";
    }
    return "";
}

bool moved_bytes(offload_outcome outcome) {
    return outcome == offload_outcome::copied || outcome == offload_outcome::finished ||
           outcome == offload_outcome::replaced;
}

// The progress line: the trip, bytes done of it, the pace, and the time left of it.
class progress_line {
public:
    progress_line(std::ostream& out, bool terminal) : out(out), terminal(terminal) {}

    void start(const std::string& name, uint64_t bytes) {
        trip = name;
        trip_bytes = bytes;
        started = clock_type::now();
        shown = {};
    }

    void advance(uint64_t done, uint64_t of) {
        if (!terminal)
            return;
        const auto now = clock_type::now();
        if (done < of && now - shown < std::chrono::milliseconds(200))
            return;
        shown = now;
        const double seconds = std::chrono::duration<double>(now - started).count();
        const double per_second = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
        const double left = per_second > 0.0 ? static_cast<double>(of - done) / per_second : 0.0;
        const bool reading_back = done > trip_bytes;
        out << "\r\033[K" << trip << "  "
            << (reading_back ? "reading back " + megabytes(done - trip_bytes) : megabytes(done))
            << " / " << megabytes(trip_bytes) << "  " << rate(done, seconds) << "  "
            << minutes_seconds(left) << " left" << std::flush;
    }

    void clear() {
        if (terminal)
            out << "\r\033[K";
    }

private:
    std::ostream& out;
    bool terminal;
    std::string trip;
    uint64_t trip_bytes = 0;
    clock_type::time_point started;
    clock_type::time_point shown;
};

} // namespace

offload_commands::offload_commands(fs::path root, car_identity car, std::ostream& out,
                                   bool terminal)
    : root(std::move(root)), car(std::move(car)), out(out), terminal(terminal) {}

int offload_commands::offload(const fs::path& destination, bool dry_run) {
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw offload_error("the car's trips folder " + root.string() + " does not exist");
    offload_log log(root);
    progress_line progress(out, terminal);
    offload_listener listener;
    listener.trip_started = [&](const std::string& trip, uint64_t bytes) {
        progress.start(trip, bytes);
    };
    listener.progress = [&](uint64_t done, uint64_t of) { progress.advance(done, of); };
    listener.trip_done = [&](const offload_result& result) {
        progress.clear();
        out << outcome_word(result.outcome) << ": " << result.trip;
        if (moved_bytes(result.outcome))
            out << ", " << megabytes(result.bytes) << " in " << minutes_seconds(result.seconds)
                << " (" << rate(2 * result.bytes, result.seconds) << " copied and read back)";
        else if (result.outcome == offload_outcome::would_copy)
            out << ", " << megabytes(result.bytes);
        else if (result.outcome == offload_outcome::refused ||
                 result.outcome == offload_outcome::cut)
            out << ": " << result.why;
        if (result.repaired)
            out << (result.outcome == offload_outcome::would_copy ? " (after repairing it)"
                                                                  : " (repaired first)");
        out << std::endl;
    };
    trip_offload offload(root, destination, car, log, listener);
    std::vector<offload_result> results;
    try {
        results = offload.run(dry_run);
    } catch (...) {
        progress.clear();
        throw;
    }
    size_t moved = 0, there = 0, skipped = 0, refused = 0, would = 0;
    for (const offload_result& result : results) {
        if (moved_bytes(result.outcome))
            ++moved;
        else if (result.outcome == offload_outcome::already_there)
            ++there;
        else if (result.outcome == offload_outcome::would_copy)
            ++would;
        else if (result.outcome == offload_outcome::refused)
            ++refused;
        else
            ++skipped;
    }
    out << (dry_run ? "dry run, " : "") << "offload to " << offload.car_folder().string() << ": "
        << (dry_run ? std::to_string(would) + " to copy" : std::to_string(moved) + " copied")
        << ", " << there << " already there, " << skipped << " skipped, " << refused << " refused"
        << std::endl;
    return refused == 0 ? 0 : 1;
}

int offload_commands::verify(const fs::path& destination) {
    std::error_code error;
    if (!fs::is_directory(destination, error))
        throw offload_error(destination.string() + " does not exist or is not a folder");
    std::optional<offload_log> log;
    if (fs::is_directory(root, error))
        log.emplace(root);
    size_t whole = 0, damaged = 0;
    verify_archive(destination, [&](const copy_check& check) {
        const bool ours = check.identity && *check.identity == car;
        if (check.problems.empty()) {
            ++whole;
            if (ours && log) {
                std::optional<offload_entry> entry = log->entry(check.trip);
                if (entry && entry->destination == check.folder.string()) {
                    entry->verified_at = static_cast<int64_t>(std::time(nullptr));
                    log->record(*entry);
                }
            }
            return;
        }
        ++damaged;
        // The car keeps a trip whose copy is damaged until the next offload replaces it.
        if (ours && log)
            log->forget(check.trip);
        out << "damaged: " << check.car_folder << "/" << check.trip << ":";
        for (size_t i = 0; i < check.problems.size(); ++i)
            out << (i == 0 ? " " : "; ") << check.problems[i];
        out << std::endl;
    });
    out << "verify " << destination.string() << ": " << whole << " whole, " << damaged
        << " missing or damaged" << std::endl;
    return damaged == 0 ? 0 : 1;
}
