#pragma once
// The frame index of a trip as comma-separated values for spreadsheets and map tools:
// "data.csv" beside "data.idx", UTF-8 with a byte-order mark (so spreadsheets take Cyrillic
// file names as UTF-8), a header line and one line per record with the numbers as the index has
// them.

#include "archive/trip_index.h"

#include <filesystem>

class index_csv_export {
public:
    static constexpr const char* file_name = "data.csv";

    // Writes the whole file under a temporary name and renames it into place, so a failed
    // export never leaves half a file. False when it could not be written.
    static bool write(const trip_index& index, const std::filesystem::path& csv_file);
};
