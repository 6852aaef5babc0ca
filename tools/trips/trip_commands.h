#pragma once
// The commands of kestrel-trips over the trips under one root folder. Each writes its result
// to standard output; bad input throws trip_command_error with one line for standard error,
// and no output file is left behind.

#include "archive/track_place.h"
#include "archive/trip_index.h"

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

class trip_catalogue;

struct trip_command_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class trip_commands {
public:
    // Places farther than this from every frame count as not passed.
    static constexpr double default_within = 25.0;

    trip_commands(std::filesystem::path root, double within, std::ostream& out,
                  std::ostream& notes);

    // CSV: folder, camera, start, end, frames, first and last km+m of every trip, where its
    // offloaded copy is and when it was last read back whole, newest first. Over an office
    // archive of several cars (DEST/<car>/<trip>), every car's trips with a car column first.
    void list();
    // CSV: the nearest frame of every pass of every trip at the place (every car's, with a car
    // column, over an office archive).
    void place(const std::string& place_text);
    // That trip's frame nearest to the place, decoded, as PNG.
    void frame(const std::string& trip, const std::string& place_text,
               const std::filesystem::path& output);
    // The trip's frames between two places as one AVI, copied without encoding; prints the
    // range taken.
    void clip(const std::string& trip, const std::string& from_text, const std::string& to_text,
              const std::filesystem::path& output);

private:
    // The catalogue of one car's folder, brought up to date; a note when it is in memory.
    std::unique_ptr<trip_catalogue> synced_catalogue(const std::filesystem::path& folder) const;
    std::filesystem::path trip_folder(const std::string& trip) const;
    // Throws when the record nearest to the place is farther than `within`.
    void nearest_within(const trip_index& index, size_t record, const track_place& place,
                        const std::string& place_text, const std::filesystem::path& folder) const;

    std::filesystem::path root;
    double within;
    std::ostream& out;
    std::ostream& notes;
};
