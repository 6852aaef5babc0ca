// Video recording with real files: every policy's example trips, every codec, checked with
// ffprobe against the index that python3 reads.

#include "recording/video_file_writer_avi.h"
#include "recording_test_support.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <opencv2/core.hpp>

namespace {

constexpr int width = 320;
constexpr int height = 240;

TrackPosition at(int frame, int km, const char* peregon = "1", const char* pch = "7") {
    TrackPosition p(frame);
    p.has_fix = true;
    p.dir = "123456";
    p.way = "1";
    p.km = km;
    p.m = frame * 10.0;
    p.abs = km * 1000.0 + p.m;
    p.peregon = peregon;
    p.pch = pch;
    return p;
}

struct recorded_trip {
    std::string folder;
    std::vector<index_frame> index;
    std::size_t written = 0;      // frames the writer said reached a file
    std::vector<writer_row> rows; // the journal rows the writer asked for
};

// Records the positions, one camera-like frame each, and destroys the writer as the writer
// thread does: close, then release the last reference.
recorded_trip record(const wxString& write_path, const char* policy,
                     const std::vector<TrackPosition>& trip, const char* codec = "MJPEG",
                     const wxString& camera = "Cam") {
    recorded_trip result;
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_avi>(
            wxString::FromUTF8(codec), camera, wxString::FromUTF8(policy));
        EXPECT_TRUE(writer->open(write_path));
        int seed = 0;
        for (const auto& position : trip)
            result.written += writer->write(camera_like_frame(width, height, seed++), position);
        result.written += writer->close();
        result.rows = writer->take_rows();
    }
    result.folder = only_trip_folder(write_path.utf8_string());
    result.index = parse_index(result.folder + "/data.idx");
    return result;
}

// Every video file in the trip folder holds exactly the frames the index gives it, numbered
// 0, 1, 2, ... in the order written.
void expect_files_agree_with_index(const recorded_trip& trip) {
    std::map<std::string, int> next_in_file;
    for (const auto& frame : trip.index)
        EXPECT_EQ(frame["frame_in_file"], std::to_string(next_in_file[frame["file"]]++))
            << frame["file"];
    std::map<std::string, int> on_disk;
    for (const auto& name : scratch_folder::entries(trip.folder))
        if (name != "data.idx" && name != "route.csv")
            on_disk[name] = probe_video(trip.folder + "/" + name).frames;
    EXPECT_EQ(on_disk, next_in_file);
}

std::vector<std::string> file_names(const recorded_trip& trip) {
    std::vector<std::string> names;
    for (const auto& frame : trip.index)
        if (names.empty() || names.back() != frame["file"])
            names.push_back(frame["file"]);
    return names;
}

using names = std::vector<std::string>;

class VideoWriterTest : public testing::Test {
protected:
    scratch_folder folder;
};

TEST_F(VideoWriterTest, EveryKilometreStartsAFile) {
    const auto trip = record(folder.wx_path(), "1 километр", {at(0, 12), at(1, 12), at(2, 13)});
    EXPECT_EQ(file_names(trip), (names{"123456-1_0012_км.avi", "123456-1_0013_км.avi"}));
    ASSERT_EQ(trip.index.size(), 3u);
    EXPECT_EQ(trip.index[1]["frame_in_file"], "1");
    EXPECT_EQ(trip.index[2]["frame"], "2");
    expect_files_agree_with_index(trip);
}

TEST_F(VideoWriterTest, EveryFifthOrTenthChangeOfKilometreStartsAFileNamedAfterIt) {
    for (const auto& [policy, changes] : {std::pair{"5 километров", 5}, {"10 километров", 10}}) {
        scratch_folder write_path;
        std::vector<TrackPosition> trip;
        for (int km = 1; km <= changes + 1; ++km)
            trip.push_back(at(km - 1, km));
        const auto recorded = record(write_path.wx_path(), policy, trip);
        const std::string second = changes == 5 ? "123456-1_0006_км.avi" : "123456-1_0011_км.avi";
        EXPECT_EQ(file_names(recorded), (names{"123456-1_0001_км.avi", second})) << policy;
        EXPECT_EQ(frames_per_file(recorded.index)["123456-1_0001_км.avi"], changes) << policy;
        expect_files_agree_with_index(recorded);
    }
}

TEST_F(VideoWriterTest, ANewSectionStartsAFileAndAKilometreAloneDoesNot) {
    const auto trip = record(folder.wx_path(), "Перегон",
                             {at(0, 5, "A/B"), at(1, 5, "A/B"), at(2, 6, "A/B"), at(3, 6, "C")});
    EXPECT_EQ(file_names(trip), (names{"123456-1-A_B.avi", "123456-1-C.avi"}));
    EXPECT_EQ(frames_per_file(trip.index)["123456-1-A_B.avi"], 3);
    expect_files_agree_with_index(trip);
}

TEST_F(VideoWriterTest, ANewDistanceStartsAFile) {
    const auto trip = record(folder.wx_path(), "Дистанция",
                             {at(0, 5, "A", "7"), at(1, 6, "B", "7"), at(2, 6, "B", "8")});
    EXPECT_EQ(file_names(trip), (names{"123456-1_ПЧ-7.avi", "123456-1_ПЧ-8.avi"}));
    expect_files_agree_with_index(trip);
}

TEST_F(VideoWriterTest, WholeTripAndUnknownPoliciesRecordOneFile) {
    for (const char* policy : {"Вся поездка", "каждый столб"}) {
        scratch_folder write_path;
        const auto trip = record(write_path.wx_path(), policy,
                                 {at(0, 1, "A", "1"), at(1, 2, "B", "2"), at(2, 3, "C", "3")});
        EXPECT_EQ(file_names(trip), names{"123456-1.avi"}) << policy;
        expect_files_agree_with_index(trip);
    }
}

TEST_F(VideoWriterTest, PassingTheSameKilometreAgainKeepsBothRecordings) {
    const auto trip =
        record(folder.wx_path(), "1 километр", {at(0, 12), at(1, 13), at(2, 12), at(3, 12)});
    EXPECT_EQ(file_names(trip),
              (names{"123456-1_0012_км.avi", "123456-1_0013_км.avi", "123456-1_0012_км (2).avi"}));
    EXPECT_EQ(frames_per_file(trip.index)["123456-1_0012_км (2).avi"], 2);
    expect_files_agree_with_index(trip);
}

TEST_F(VideoWriterTest, FramesWithoutAFixGoIntoTheOpenFile) {
    // Five kilometres of ten frames each; every seventh answer of the server has no fix.
    std::vector<TrackPosition> trip;
    for (int frame = 0; frame < 50; ++frame)
        trip.push_back(frame % 7 == 6 ? TrackPosition(frame) : at(frame, 12 + frame / 10));
    const auto recorded = record(folder.wx_path(), "1 километр", trip);
    EXPECT_EQ(file_names(recorded),
              (names{"123456-1_0012_км.avi", "123456-1_0013_км.avi", "123456-1_0014_км.avi",
                     "123456-1_0015_км.avi", "123456-1_0016_км.avi"}));
    // A no-fix frame (km 0 in the index) stays in the file open before it; every fix lies in
    // the file of its kilometre.
    ASSERT_EQ(recorded.index.size(), trip.size());
    for (size_t i = 0; i < trip.size(); ++i) {
        const std::string km = std::to_string(trip[i].km);
        const std::string expected =
            "123456-1_00" + std::to_string(12 + (i - (i % 7 == 6)) / 10) + "_км.avi";
        EXPECT_EQ(recorded.index[i]["file"], expected) << "frame " << i;
        EXPECT_EQ(recorded.index[i]["km"], km) << "frame " << i;
    }
    expect_files_agree_with_index(recorded);
}

TEST_F(VideoWriterTest, AFrameOfAnotherSizeStartsAFile) {
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_avi>(
            "MJPEG", "Cam", wxString::FromUTF8("Вся поездка"));
        ASSERT_TRUE(writer->open(folder.wx_path()));
        EXPECT_EQ(writer->write(camera_like_frame(320, 240, 0), at(0, 1)), 1u);
        EXPECT_EQ(writer->write(camera_like_frame(160, 120, 1), at(1, 1)), 1u);
        EXPECT_EQ(writer->write(camera_like_frame(160, 120, 2), at(2, 1)), 1u);
    }
    const std::string trip_folder = only_trip_folder(folder.path());
    const probed_video first = probe_video(trip_folder + "/123456-1.avi");
    const probed_video second = probe_video(trip_folder + "/123456-1 (2).avi");
    EXPECT_EQ(first.width, 320);
    EXPECT_EQ(first.frames, 1);
    EXPECT_EQ(second.width, 160);
    EXPECT_EQ(second.height, 120);
    EXPECT_EQ(second.frames, 2);
    EXPECT_EQ(frames_per_file(parse_index(trip_folder + "/data.idx"))["123456-1 (2).avi"], 2);
}

TEST_F(VideoWriterTest, FramesKeepTheirColours) {
    const auto trip = record(folder.wx_path(), "Вся поездка", {at(0, 1)});
    const auto decoded = decode_rgb(trip.folder + "/123456-1.avi", width, height);
    ASSERT_FALSE(decoded.empty());
    const cv::Mat original = rgb_of(camera_like_frame(width, height, 0));
    const cv::Mat back(height, width, CV_8UC3, const_cast<unsigned char*>(decoded.data()));
    const cv::Scalar original_mean = cv::mean(original);
    const cv::Scalar back_mean = cv::mean(back);
    // The picture's channels differ by far more than the tolerance: a swap of red and blue
    // cannot pass.
    ASSERT_GT(std::abs(original_mean[0] - original_mean[2]), 12);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(back_mean[channel], original_mean[channel], 4) << "channel " << channel;
    EXPECT_LT(cv::norm(original, back, cv::NORM_L1) / original.total() / 3, 12);
}

TEST_F(VideoWriterTest, EachCodecRecordsWithItsTagOrReportsItsFailure) {
    const std::map<std::string, std::pair<std::string, std::string>> recordable = {
        {"MJPEG", {"mjpeg", "MJPG"}},
        {"XVID", {"mpeg4", "XVID"}},
        {"DIVX", {"mpeg4", "DIVX"}},
        {"h264", {"h264", "X264"}}};
    for (const auto& [codec, expected] : recordable) {
        scratch_folder write_path;
        const auto trip = record(write_path.wx_path(), "1 километр",
                                 {at(0, 1), at(1, 1), at(2, 1), at(3, 2), at(4, 2)}, codec.c_str());
        EXPECT_EQ(trip.written, 5u) << codec;
        EXPECT_EQ(trip.index.size(), 5u) << codec;
        expect_files_agree_with_index(trip);
        const probed_video video = probe_video(trip.folder + "/123456-1_0001_км.avi");
        EXPECT_EQ(video.codec, expected.first) << codec;
        EXPECT_EQ(video.tag, expected.second) << codec;
    }
    // HEVC has no place in AVI here: refused before any file is made, every frame again.
    std::shared_ptr<video_file_writer_basic> writer =
        std::make_shared<video_file_writer_avi>("h265", "Cam", wxString::FromUTF8("1 километр"));
    ASSERT_TRUE(writer->open(folder.wx_path()));
    EXPECT_EQ(writer->take_rows().size(), 1u) << "where the trip is recorded";
    EXPECT_EQ(writer->write(camera_like_frame(width, height, 0), at(0, 1)), 0u);
    EXPECT_EQ(writer->write(camera_like_frame(width, height, 1), at(1, 1)), 0u);
    EXPECT_EQ(writer->close(), 0u);
    const auto rows = writer->take_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text.utf8_string(), "Кодек h265 не записывается в файлы AVI");
    writer.reset();
    const std::string trip_folder = only_trip_folder(folder.path());
    EXPECT_EQ(scratch_folder::entries(trip_folder), std::vector<std::string>{"data.idx"});
    EXPECT_TRUE(parse_index(trip_folder + "/data.idx").empty());
}

TEST_F(VideoWriterTest, AnUnknownCodecRecordsWithTheDefaultCodecAndSaysSo) {
    const auto trip = record(folder.wx_path(), "Вся поездка", {at(0, 1), at(1, 1)}, "NOPE");
    EXPECT_EQ(trip.written, 2u);
    const probed_video video = probe_video(trip.folder + "/123456-1.avi");
    EXPECT_EQ(video.tag, "XVID");
    expect_files_agree_with_index(trip);
    // The writer tells, and leaves the journal to its caller: a red row, then where it records.
    ASSERT_EQ(trip.rows.size(), 2u);
    EXPECT_TRUE(trip.rows[0].failure);
    EXPECT_EQ(trip.rows[0].text.utf8_string(), "Неизвестный кодек NOPE: запись с кодеком XVID");
    EXPECT_FALSE(trip.rows[1].failure);
    EXPECT_EQ(trip.rows[1].text.utf8_string(), "Запись: " + trip.folder + "/");
}

TEST_F(VideoWriterTest, FramesAreReportedWhileNoFileCanBeOpenedAndRecordingResumes) {
    std::shared_ptr<video_file_writer_basic> writer =
        std::make_shared<video_file_writer_avi>("MJPEG", "Cam", wxString::FromUTF8("1 километр"));
    ASSERT_TRUE(writer->open(folder.wx_path()));
    EXPECT_EQ(writer->take_rows().size(), 1u) << "where the trip is recorded";
    writer->set_retry_interval(std::chrono::milliseconds(0));
    const std::string trip_folder = only_trip_folder(folder.path());
    // The disk goes away under the running writer.
    std::filesystem::remove_all(trip_folder);
    EXPECT_EQ(writer->write(camera_like_frame(width, height, 0), at(0, 1)), 0u);
    EXPECT_NE(writer->failure().utf8_string().find("123456-1_0001_км.avi"), std::string::npos)
        << writer->failure();
    EXPECT_EQ(writer->write(camera_like_frame(width, height, 1), at(1, 1)), 0u);
    std::filesystem::create_directory(trip_folder);
    EXPECT_EQ(writer->write(camera_like_frame(width, height, 2), at(2, 2)), 1u);
    const auto rows = writer->take_rows();
    ASSERT_EQ(rows.size(), 2u) << "one row when the failures begin, one when they end";
    EXPECT_TRUE(rows[0].failure);
    EXPECT_FALSE(rows[1].failure);
    EXPECT_EQ(rows[1].text.utf8_string(),
              "Запись возобновлена [" + trip_folder + "/123456-1_0002_км.avi]");
    writer->close();
    writer.reset();
    recorded_trip trip{trip_folder, parse_index(trip_folder + "/data.idx"), 0, {}};
    ASSERT_EQ(trip.index.size(), 1u);
    EXPECT_EQ(trip.index[0]["frame"], "2");
    EXPECT_EQ(file_names(trip), names{"123456-1_0002_км.avi"});
    expect_files_agree_with_index(trip);
}

TEST_F(VideoWriterTest, CyrillicFoldersAndNamesWork) {
    const std::string write_path = folder.path() + "/Записи поездок";
    std::filesystem::create_directory(write_path);
    const auto trip =
        record(wxString::FromUTF8(write_path), "Перегон", {at(0, 1, "Тверь"), at(1, 1, "Клин")},
               "MJPEG", wxString::FromUTF8("Котел"));
    EXPECT_NE(trip.folder.find("[Котел]"), std::string::npos);
    EXPECT_EQ(file_names(trip), (names{"123456-1-Тверь.avi", "123456-1-Клин.avi"}));
    expect_files_agree_with_index(trip);
}

} // namespace
