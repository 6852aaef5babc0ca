// The names in a recordings folder that writer and readers share.

#include "trip_format/trip_files.h"

#include <gtest/gtest.h>

namespace {

TEST(TripFolder, NamedAfterTheOpeningTimeAndTheCamera) {
    const wxDateTime opened(3, wxDateTime::Feb, 2025, 9, 5, 7);
    EXPECT_EQ(trip_folder_name(opened, wxString::FromUTF8("Дизель")).utf8_string(),
              "2025.02.03 09.05.07[Дизель]");
}

TEST(TripFolder, ANameReadsBackAsCameraAndStartAndOtherNamesAreRefused) {
    std::string camera;
    std::string started;
    const wxDateTime opened(3, wxDateTime::Feb, 2025, 9, 5, 7);
    const wxString written = trip_folder_name(opened, wxString::FromUTF8("Котел"));
    ASSERT_TRUE(parse_trip_folder_name(written.utf8_string(), camera, started));
    EXPECT_EQ(camera, "Котел");
    EXPECT_EQ(started, "2025.02.03 09:05:07");
    ASSERT_TRUE(parse_trip_folder_name("2025.02.03 09.05.07[Дизель] (12)", camera, started))
        << "a name already taken gets a number";
    EXPECT_EQ(camera, "Дизель");
    for (const char* other :
         {"holiday photos", "2025.02.03 09.05.07[]", "2025.02.03 09.05.07[Cam",
          "2025.02.03 09.05.07[Cam] (x)", "2025.02.03 09.05.07[Cam] (2",
          "2025.02.03 09.05.07[Cam]x", "2025.2.03 09.05.07[Cam]", "2025.02.03 09:05:07[Cam]"})
        EXPECT_FALSE(parse_trip_folder_name(other, camera, started)) << other;
}

} // namespace
