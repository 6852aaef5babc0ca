// Reading recorded trips back: the frame index as the browser reads it, places typed by the
// operator, the CSV export checked with python3's own csv and XML readers, and the trip list.

#include "archive/index_csv_export.h"
#include "archive/track_place.h"
#include "archive/trip_catalogue.h"
#include "archive/trip_index.h"
#include "recording/frame_index.h"
#include "tests/recording/recording_test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// An index of `count` frames, 10 m apart from km 126 + 700, two frames per file.
void write_index(const fs::path& index_path, int count) {
    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path.string()));
    for (int i = 0; i < count; ++i)
        index.add(wxString::Format(wxString::FromUTF8("trip_%d_км,1.avi"), i / 2), i % 2,
                  position_at(100 + i, 126 + (700 + i * 10) / 1000, (700 + i * 10) % 1000 + 0.25));
}

TEST(trip_index, reads_what_the_recorder_writes_and_finds_places) {
    scratch_folder folder;
    const fs::path index_path = fs::path(folder.path()) / "data.idx";
    write_index(index_path, 60);
    const trip_index index = trip_index::read(index_path);
    EXPECT_TRUE(index.problem().empty()) << index.problem();
    ASSERT_EQ(index.records().size(), 60u);
    EXPECT_EQ(index.files().size(), 30u);
    const index_record& fifth = index.records()[5];
    EXPECT_EQ(index.file_of(fifth), u8"trip_2_км,1.avi");
    EXPECT_EQ(fifth.frame_in_file, 1);
    EXPECT_EQ(fifth.frame, 105);
    EXPECT_EQ(fifth.km, 126);
    EXPECT_DOUBLE_EQ(fifth.m, 750.25);
    EXPECT_EQ(fifth.abs_text, "126750.250000");

    // Frame 30 stands at km 127 + 0.25: the place across the kilometre boundary is found.
    EXPECT_EQ(index.nearest_to_place(126, 740), 4u);
    EXPECT_EQ(index.nearest_to_place(127, 3), 30u);
    EXPECT_EQ(index.nearest_to_place(200, 0), 59u);
    EXPECT_EQ(index.nearest_to_abs(126744.0), 4u);
    EXPECT_EQ(index.nearest_to_frame(107), 7u);
    EXPECT_EQ(index.nearest_to_frame(5000), 59u);
    EXPECT_EQ(index.step_by_distance(10, 100.0), 20u);
    EXPECT_EQ(index.step_by_distance(10, -100.0), 0u);
    EXPECT_EQ(index.step_by_distance(55, 100.0), 59u);
    EXPECT_EQ(index.step_by_distance(25, -100.0), 15u);
}

TEST(trip_index, damaged_or_missing_index_is_told_not_thrown) {
    scratch_folder folder;
    const fs::path index_path = fs::path(folder.path()) / "data.idx";
    EXPECT_TRUE(trip_index::read(index_path).missing());

    write_index(index_path, 20);
    const std::string whole = read_file_text(index_path.string());
    // Cut in the middle of the 11th record, as a power cut during an append would leave it.
    const size_t eleventh = whole.find("<frame", whole.find("frame=\"109\""));
    write_text(index_path, whole.substr(0, eleventh + 30));
    const trip_index cut = trip_index::read(index_path);
    EXPECT_FALSE(cut.problem().empty());
    EXPECT_FALSE(cut.missing());
    EXPECT_EQ(cut.records().size(), 10u);

    write_text(index_path, "this is not XML");
    EXPECT_FALSE(trip_index::read(index_path).problem().empty());
    EXPECT_TRUE(trip_index::read(index_path).empty());

    write_text(index_path, "<?xml version=\"1.0\"?><section><frame file=\"a.avi\" "
                           "frame_in_file=\"x\" frame=\"1\" abscoord=\"1\" km=\"1\" m=\"1\" "
                           "time=\"\"/></section>");
    EXPECT_FALSE(trip_index::read(index_path).problem().empty());

    write_text(index_path, "<?xml version=\"1.0\"?><other/>");
    EXPECT_FALSE(trip_index::read(index_path).problem().empty());
}

TEST(track_place, kilometre_and_metres_or_an_absolute_coordinate) {
    const auto place = [](const char* text) { return track_place::parse(text); };
    for (const char* text : {"126+740", "126 740", " 126 + 740 ", "126+740.0", "126+740,0"}) {
        const auto parsed = place(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_FALSE(parsed->absolute) << text;
        EXPECT_EQ(parsed->km, 126) << text;
        EXPECT_DOUBLE_EQ(parsed->m, 740.0) << text;
    }
    ASSERT_TRUE(place("-3+20"));
    EXPECT_EQ(place("-3+20")->km, -3);
    const auto absolute = place("126740.5");
    ASSERT_TRUE(absolute);
    EXPECT_TRUE(absolute->absolute);
    EXPECT_DOUBLE_EQ(absolute->abs, 126740.5);
    for (const char* text : {"", "  ", "km", "126+", "+740", "126+abc", "126+-5", "126++740",
                             "12a+740", "126 740 5", "nan", "inf"})
        EXPECT_FALSE(place(text)) << '"' << text << '"';
}

TEST(index_csv_export, every_record_once_with_the_numbers_of_the_index) {
    scratch_folder folder;
    const fs::path index_path = fs::path(folder.path()) / "data.idx";
    write_index(index_path, 25);
    const fs::path csv_path = fs::path(folder.path()) / index_csv_export::file_name;
    ASSERT_TRUE(index_csv_export::write(trip_index::read(index_path), csv_path));

    // python3 reads both files: the CSV rows must be the index's attributes, in order.
    const std::string script =
        "import csv,sys,xml.etree.ElementTree as E\n"
        "rows=list(csv.reader(open(sys.argv[2],encoding='utf-8-sig',newline='')))\n"
        "assert rows[0]==['file','frame_in_file','frame','abs','km','m','time'],rows[0]\n"
        "keys=['file','frame_in_file','frame','abscoord','km','m','time']\n"
        "idx=[[f.get(k) for k in keys] for f in E.parse(sys.argv[1]).getroot()]\n"
        "assert rows[1:]==idx,(rows[1:3],idx[:2])\n"
        "print(len(idx))\n";
    int status = 0;
    const std::string output =
        run_command("python3 -c " + shell_quote(script) + " " + shell_quote(index_path.string()) +
                        " " + shell_quote(csv_path.string()) + " 2>&1",
                    &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "25\n");
    EXPECT_EQ(scratch_folder::entries(folder.path()),
              (std::vector<std::string>{"data.csv", "data.idx"}))
        << "nothing written on the way is left";

    // A folder that is gone: false, and nothing left behind.
    EXPECT_FALSE(index_csv_export::write(trip_index::read(index_path),
                                         fs::path(folder.path()) / "gone" / "data.csv"));
}

TEST(trip_catalogue, trip_folders_newest_first_with_what_their_index_says) {
    scratch_folder folder;
    const fs::path root = folder.path();
    const fs::path older = root / u8"2026.01.02 10.00.00[Котел]";
    const fs::path newer = root / u8"2026.01.02 11.30.00[Дизель]";
    const fs::path again = root / u8"2026.01.02 10.00.00[Котел] (2)";
    const fs::path broken = root / u8"2026.01.03 08.00.00[Котел]";
    for (const fs::path& trip : {older, newer, again, broken})
        fs::create_directory(trip);
    fs::create_directory(root / "holiday photos");
    fs::create_directory(root / "2026.01.02 10.00.00[Котел] (x)");
    write_index(older / "data.idx", 12);
    write_index(newer / "data.idx", 3);
    write_text(broken / "data.idx", "<section><frame");

    const std::vector<trip_summary> trips = trip_catalogue::list(root);
    ASSERT_EQ(trips.size(), 4u);
    EXPECT_EQ(trips[0].folder, broken);
    EXPECT_EQ(trips[1].folder, newer);
    EXPECT_EQ(trips[2].folder, again);
    EXPECT_EQ(trips[3].folder, older);
    EXPECT_FALSE(trips[0].problem.empty());
    EXPECT_FALSE(trips[0].index_missing);
    EXPECT_TRUE(trips[2].index_missing);
    EXPECT_EQ(trips[1].camera, u8"Дизель");
    EXPECT_EQ(trips[1].started, "2026.01.02 11:30:00");
    EXPECT_EQ(trips[3].frames, 12u);
    EXPECT_EQ(trips[3].files, 6u);
    EXPECT_EQ(trips[3].first_km, 126);
    EXPECT_DOUBLE_EQ(trips[3].first_m, 700.25);
    EXPECT_DOUBLE_EQ(trips[3].last_m, 810.25);
    EXPECT_TRUE(trip_catalogue::list(root / "missing").empty());
}

} // namespace
