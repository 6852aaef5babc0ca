// A trip cut into passes: runs of frames in one sense of travel on one track, read from the
// trip's data.idx and route.csv as the recorder writes them.

#include "archive/trip_index.h"
#include "archive/trip_passes.h"
#include "archive/trip_route.h"
#include "recording/frame_index.h"
#include "tests/recording/recording_test_support.h"
#include "trip_format/trip_files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One frame of a made-up trip: its coordinate (0: no fix) and the track it is on.
struct step {
    double abs;
    const char* way;
};

// Writes the frames into a trip folder of their own as the recorder does: data.idx with every
// frame, and route.csv beside it from the frames' route texts. Kilometre and metres follow the
// coordinate.
std::vector<trip_pass> passes_of(const fs::path& root, const std::vector<step>& steps) {
    static int trips = 0;
    const fs::path folder = root / ("trip" + std::to_string(++trips));
    fs::create_directory(folder);
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8((folder / trip_files::index).string()));
        for (size_t i = 0; i < steps.size(); ++i) {
            const int frame = static_cast<int>(i);
            TrackPosition p(frame);
            if (steps[i].abs != 0.0) {
                const int km = static_cast<int>(steps[i].abs / 1000);
                p = position_at(frame, km, steps[i].abs - 1000.0 * km);
                p.has_fix = true;
                p.dir = "240100";
                p.way = steps[i].way;
            }
            index.add("v.avi", i, p);
        }
        EXPECT_TRUE(index.close());
    }
    return trip_passes::of(trip_index::read(folder / trip_files::index), trip_route::read(folder));
}

// A pass in one line: number, sense, direction code / track, and the records, frames,
// coordinates and places it covers.
std::string line_of(const trip_pass& pass) {
    std::ostringstream line;
    line << pass.number << " " << pass.sense << " " << pass.dir << "/" << pass.way << " records "
         << pass.first_record << "-" << pass.last_record << " frames " << pass.first_frame << "-"
         << pass.last_frame << " abs " << pass.abs_low << "-" << pass.abs_high << " place "
         << pass.place_low << "-" << pass.place_high;
    return line.str();
}

std::vector<std::string> lines_of(const std::vector<trip_pass>& passes) {
    std::vector<std::string> lines;
    for (const trip_pass& pass : passes)
        lines.push_back(line_of(pass));
    return lines;
}

using lines = std::vector<std::string>;

} // namespace

TEST(trip_passes, frames_without_a_fix_belong_to_no_pass_and_do_not_end_one) {
    scratch_folder folder;
    EXPECT_EQ(
        lines_of(passes_of(folder.path(),
                           {{0, ""}, {5000, "1"}, {5010, "1"}, {0, ""}, {5020, "1"}, {0, ""}})),
        (lines{"0 1 240100/1 records 1-4 frames 1-4 abs 5000-5020 place 5000-5020"}));
    EXPECT_TRUE(passes_of(folder.path(), {{0, ""}, {0, ""}}).empty());
}

TEST(trip_passes, a_car_that_turns_back_starts_a_pass_and_one_that_stands_has_no_sense) {
    scratch_folder folder;
    // Out to 5030 and back: the turning point ends the first pass.
    EXPECT_EQ(
        lines_of(passes_of(folder.path(),
                           {{5000, "1"}, {5010, "1"}, {5030, "1"}, {5020, "1"}, {5005, "1"}})),
        (lines{"0 1 240100/1 records 0-2 frames 0-2 abs 5000-5030 place 5000-5030",
               "1 -1 240100/1 records 3-4 frames 3-4 abs 5005-5020 place 5005-5020"}));
    // Standing, then moving off: one pass, its sense that of the move; standing only: none.
    EXPECT_EQ(
        lines_of(passes_of(folder.path(), {{7000, "2"}, {7000, "2"}, {7000, "2"}, {6990, "2"}})),
        (lines{"0 -1 240100/2 records 0-3 frames 0-3 abs 6990-7000 place 6990-7000"}));
    EXPECT_EQ(lines_of(passes_of(folder.path(), {{7000, "2"}, {7000, "2"}})),
              (lines{"0 0 240100/2 records 0-1 frames 0-1 abs 7000-7000 place 7000-7000"}));
}

TEST(trip_passes, a_new_track_starts_a_pass_whose_sense_comes_from_its_own_frames) {
    scratch_folder folder;
    // Track 1 rising to 9000, then track 2, whose coordinates start lower and also rise: the
    // jump between the tracks says nothing of the sense on track 2.
    EXPECT_EQ(lines_of(passes_of(folder.path(), {{8980, "1"},
                                                 {8990, "1"},
                                                 {9000, "1"},
                                                 {3000, "2"},
                                                 {3010, "2"},
                                                 {3020, "2"},
                                                 {3030, "2"}})),
              (lines{"0 1 240100/1 records 0-2 frames 0-2 abs 8980-9000 place 8980-9000",
                     "1 1 240100/2 records 3-6 frames 3-6 abs 3000-3030 place 3000-3030"}));
}
