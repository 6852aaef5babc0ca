// Frames taken out of a recorded trip through the library the trip tool uses: a still trip's
// frame is its picture, and whatever cannot be exported (a record the index does not have, a
// still trip as a clip, a file gone) is one runtime_error that leaves any earlier output as it
// was.

#include "archive/trip_export.h"
#include "archive/trip_index.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_png.h"
#include "tests/recording/recording_test_support.h"
#include "trip_format/trip_files.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

// A trip of five frames recorded by the writer given, 10 m apart.
fs::path record_five(video_file_writer_basic& writer, const fs::path& root) {
    fs::create_directories(root);
    EXPECT_TRUE(writer.open(wxString::FromUTF8(root.string())));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(writer.write(camera_like_frame(160, 120, i), position_at(i, 3, 10.0 * i)), 1u);
    writer.close();
    return fs::path(writer.trip_folder().utf8_string());
}

// The message of the runtime_error the call throws; empty when it throws none.
template <typename Call> std::string failure_of(Call call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

} // namespace

TEST(trip_export, a_frame_of_a_still_trip_is_its_picture_as_png) {
    scratch_folder folder;
    video_file_writer_png writer("Cam", "%frame");
    const fs::path trip = record_five(writer, fs::path(folder.path()) / "stills");
    const trip_index index = trip_index::read(trip / trip_files::index);
    ASSERT_EQ(index.records().size(), 5u);
    const fs::path output = fs::path(folder.path()) / "frame.png";
    trip_export::frame_png(trip, index, 3, output);
    const cv::Mat exported = cv::imread(output.string(), cv::IMREAD_COLOR);
    const cv::Mat recorded =
        cv::imread((trip / index.file_of(index.records()[3])).string(), cv::IMREAD_COLOR);
    ASSERT_FALSE(recorded.empty());
    ASSERT_EQ(exported.size(), recorded.size());
    EXPECT_EQ(cv::norm(exported, recorded, cv::NORM_INF), 0.0);
}

TEST(trip_export, what_cannot_be_exported_is_one_error_and_earlier_output_stays) {
    scratch_folder folder;
    video_file_writer_avi video_writer("MJPEG", "Cam", wxString::FromUTF8("Вся поездка"));
    const fs::path video = record_five(video_writer, fs::path(folder.path()) / "video");
    const trip_index video_index = trip_index::read(video / trip_files::index);
    video_file_writer_png still_writer("Cam", "%frame");
    const fs::path stills = record_five(still_writer, fs::path(folder.path()) / "stills");
    const trip_index still_index = trip_index::read(stills / trip_files::index);

    const fs::path output = fs::path(folder.path()) / "out";
    std::ofstream(output) << "earlier";
    const auto output_is_untouched = [&] { return read_file_text(output.string()) == "earlier"; };

    EXPECT_NE(failure_of([&] { trip_export::frame_png(video, video_index, 5, output); }), "")
        << "a record past the index";
    EXPECT_TRUE(output_is_untouched());
    EXPECT_NE(failure_of([&] { trip_export::clip(video, video_index, 2, 99, output); }), "");
    EXPECT_TRUE(output_is_untouched());
    EXPECT_NE(failure_of([&] { trip_export::clip(video, trip_index(), 0, 0, output); }), "")
        << "an empty index";
    EXPECT_TRUE(output_is_untouched());

    const std::string still_clip =
        failure_of([&] { trip_export::clip(stills, still_index, 0, 4, output); });
    EXPECT_NE(still_clip.find("still pictures"), std::string::npos) << still_clip;
    EXPECT_TRUE(output_is_untouched());

    const std::string file = video_index.file_of(video_index.records()[0]);
    fs::remove(video / file);
    const std::string gone =
        failure_of([&] { trip_export::frame_png(video, video_index, 0, output); });
    EXPECT_NE(gone.find(file), std::string::npos) << gone;
    EXPECT_TRUE(output_is_untouched());
    EXPECT_EQ(scratch_folder::entries(folder.path()),
              (std::vector<std::string>{"out", "stills", "video"}))
        << "no part of an output is left";

    // Nothing of the failures sticks: a frame that can be exported is.
    trip_export::frame_png(stills, still_index, 4, output);
    EXPECT_FALSE(cv::imread(output.string(), cv::IMREAD_COLOR).empty());
}
