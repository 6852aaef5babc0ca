// The folder layout of a recording: trip folders and file names that never overwrite.

#include "recording/trip_folder.h"
#include "recording_test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TEST(FileNames, ANameUsedBeforeGetsANumberBeforeItsExtension) {
    scratch_folder folder;
    wxFileName trip(folder.wx_path(), "");
    trip_file_names names;
    EXPECT_EQ(names.free_name(trip, "a.b.avi"), "a.b.avi");
    names.take("a.b.avi");
    EXPECT_EQ(names.free_name(trip, "a.b.avi"), "a.b (2).avi");
    names.take("a.b (2).avi");
    EXPECT_EQ(names.free_name(trip, "A.B.AVI"), "A.B (3).AVI");
    EXPECT_EQ(names.free_name(trip, "other.avi"), "other.avi");
    // Files already on the disk count as used too.
    std::ofstream(folder.path() + "/other.avi") << "x";
    EXPECT_EQ(names.free_name(trip, "other.avi"), "other (2).avi");
    names.take("plain");
    EXPECT_EQ(names.free_name(trip, "plain"), "plain (2)");
}

TEST(TripFolder, ATakenNameGetsANumber) {
    scratch_folder folder;
    const wxDateTime opened(1, wxDateTime::May, 2024, 12, 30, 5);
    const wxString camera = wxString::FromUTF8("Котел");
    for (int i = 0; i < 3; ++i) {
        wxFileName target;
        ASSERT_TRUE(make_trip_folder(target, folder.wx_path(), camera, opened));
    }
    EXPECT_EQ(
        scratch_folder::entries(folder.path()),
        (std::vector<std::string>{"2024.05.01 12.30.05[Котел]", "2024.05.01 12.30.05[Котел] (2)",
                                  "2024.05.01 12.30.05[Котел] (3)"}));
}

TEST(TripFolder, AMissingParentIsNotMadeAndTheRowNamesTheFolder) {
    scratch_folder folder;
    const std::string absent_disk = folder.path() + "/media/Диск";
    wxFileName target;
    EXPECT_FALSE(make_trip_folder(target, wxString::FromUTF8(absent_disk), "Cam",
                                  wxDateTime(1, wxDateTime::Jan, 2025)));
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/media"));
    EXPECT_EQ(trip_folder_failed_row(target.GetPath()).utf8_string(),
              "Не удается создать папку записи [" + absent_disk + "/2025.01.01 00.00.00[Cam]]");
}

TEST(TripFolder, AnEmptyWritePathMeansTheCurrentFolder) {
    scratch_folder folder;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    wxFileName target;
    const bool made = make_trip_folder(target, "", "Cam", wxDateTime(1, wxDateTime::Jan, 2025));
    std::filesystem::current_path(previous);
    EXPECT_TRUE(made);
    EXPECT_EQ(scratch_folder::entries(folder.path()),
              std::vector<std::string>{"2025.01.01 00.00.00[Cam]"});
}

} // namespace
