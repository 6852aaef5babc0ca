// The operator's marks as marks.csv keeps them, and the CSV line they are written in.

#include "tests/recording/recording_test_support.h"
#include "trip_format/csv_line.h"
#include "trip_format/trip_files.h"
#include "trip_format/trip_marks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(trip_marks, appended_lines_read_back_and_a_cut_line_costs_only_itself) {
    scratch_folder folder;
    const fs::path trip = folder.path();
    TrackPosition first = position_at(42, 126, 740.5);
    ASSERT_TRUE(trip_marks::append(trip, first, u8"123456-1 0126:740 [Перегон, \"А\"]"));
    ASSERT_TRUE(trip_marks::append(trip, position_at(43, 126, 741), "plain"));
    std::string text = read_file_text((trip / trip_files::marks).string());
    EXPECT_EQ(text.rfind("frame,abs,km,m,time,text\n", 0), 0u);
    EXPECT_EQ(text.find("frame,abs", 1), std::string::npos) << "one header";
    EXPECT_NE(text.find("42,126740.500000,126,740.500000,"), std::string::npos) << text;
    std::ofstream(trip / trip_files::marks, std::ios::binary) << text << "44,1267";

    const std::vector<trip_mark> marks = trip_marks::read(trip);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].frame, 42);
    EXPECT_EQ(marks[0].km, 126);
    EXPECT_DOUBLE_EQ(marks[0].m, 740.5);
    EXPECT_DOUBLE_EQ(marks[0].abs, 126740.5);
    EXPECT_EQ(marks[0].text, u8"123456-1 0126:740 [Перегон, \"А\"]");
    EXPECT_FALSE(marks[0].time.empty());
    EXPECT_EQ(marks[1].text, "plain");

    EXPECT_FALSE(trip_marks::append(trip / "gone", first, "x"));
    EXPECT_FALSE(fs::exists(trip / "gone"));
    EXPECT_EQ(csv_line::split("a,\"b,\"\"c\"\"\",").size(), 3u);
    EXPECT_EQ(csv_line::split("a,\"b,\"\"c\"\"\",")[1], "b,\"c\"");
}

} // namespace
