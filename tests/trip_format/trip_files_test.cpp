// The names in a recordings folder that writer and readers share.

#include "trip_format/trip_files.h"

#include <gtest/gtest.h>

namespace {

TEST(TripFolder, NamedAfterTheOpeningTimeAndTheCamera) {
    const wxDateTime opened(3, wxDateTime::Feb, 2025, 9, 5, 7);
    EXPECT_EQ(trip_folder_name(opened, wxString::FromUTF8("Дизель")).utf8_string(),
              "2025.02.03 09.05.07[Дизель]");
}

} // namespace
