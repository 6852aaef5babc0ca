#pragma once
// Frames of a recorded trip taken out of it: one frame decoded as a PNG picture, or the frames
// between two records as one AVI copied without encoding again. Failures throw
// std::runtime_error with one line that names the trip's file, and leave no output behind.

#include "archive/trip_index.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

// What a clip took: records and frame numbers from its first frame (the key frame at or before
// the first record asked for) to its last.
struct clip_taken {
    size_t first_record = 0;
    size_t last_record = 0;
    int32_t first_frame = 0;
    int32_t last_frame = 0;
    int64_t frames = 0;
};

class trip_export {
public:
    // The picture of record `record` of the trip's index as a PNG file at `output`.
    static void frame_png(const std::filesystem::path& trip_folder, const trip_index& index,
                          size_t record, const std::filesystem::path& output);
    // Records `from` .. `to` (inclusive, either order) as one AVI at `output`. Only video trips:
    // still images cannot go into a clip without encoding them.
    static clip_taken clip(const std::filesystem::path& trip_folder, const trip_index& index,
                           size_t from, size_t to, const std::filesystem::path& output);
};
