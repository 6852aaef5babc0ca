#pragma once
// A trip's frame index read back for browsing: every record of "data.idx" with its numbers
// parsed and its texts kept as the file has them, and the searches the trip browser needs.

#include "archive/track_place.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct index_record {
    // Into trip_index::files: a long trip names few files many thousand times.
    uint32_t file = 0;
    int64_t frame_in_file = 0;
    int32_t frame = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    // The attributes as written, for an export that must repeat them exactly.
    std::string frame_in_file_text;
    std::string frame_text;
    std::string abs_text;
    std::string km_text;
    std::string m_text;
    std::string time_text;
    // Where the record's element starts in data.idx: a later read can start there.
    uint64_t offset = 0;

    double place() const { return linear_place(km, m); }
    // What a frame without a fix holds: the record's defaults.
    bool without_fix() const { return abs == 0.0 && km == 0 && m == 0.0; }
};

class trip_index {
public:
    // Reads "data.idx" (UTF-8 path). Never throws for a bad file: what could not be read is
    // told by problem(), and the records before a damaged or cut-off part are kept.
    static trip_index read(const std::filesystem::path& index_file);
    // At most `count` records read from byte `offset` of "data.idx", which must be where a
    // record starts (a record's offset); positions and files are those of the part read.
    static trip_index read_part(const std::filesystem::path& index_file, uint64_t offset,
                                size_t count);

    const std::vector<index_record>& records() const { return frames; }
    // The distinct file names in the order they first appear.
    const std::vector<std::string>& files() const { return file_names; }
    const std::string& file_of(const index_record& record) const { return file_names[record.file]; }
    // Empty when the whole file was read.
    const std::string& problem() const { return failure; }
    // True when the trip has no "data.idx" at all.
    bool missing() const { return file_missing; }
    bool empty() const { return frames.empty(); }

    // Positions of records (0-based), or nothing for an empty index.
    // The record nearest to kilometre + metres (a kilometre taken as 1000 m).
    std::optional<size_t> nearest_to_place(int32_t km, double m) const;
    // The record nearest to the absolute coordinate.
    std::optional<size_t> nearest_to_abs(double abs) const;
    // The record of the frame number, else the one nearest to it.
    std::optional<size_t> nearest_to_frame(int32_t frame) const;
    // The first record at least `metres` of travel away from record `from`, after it (positive)
    // or before it (negative); the last or first record when the trip ends sooner.
    size_t step_by_distance(size_t from, double metres) const;

    // For the reader: adds one record from its attribute texts; false when one is missing or
    // not a number.
    bool add(const char* const* attributes, uint64_t offset = 0);
    void set_problem(std::string text) { failure = std::move(text); }

private:
    static trip_index parse(const std::filesystem::path& index_file, uint64_t offset, size_t count);
    uint32_t file_number(const char* name);

    std::vector<index_record> frames;
    std::vector<std::string> file_names;
    std::string failure;
    bool file_missing = false;
};
