// Still-image recording: the files decode with ffmpeg to the pixels written, every frame is
// listed with frame number in file 0, and nothing is overwritten or listed that was not saved.

#include "media/jpeg_encoder.h"
#include "recording/image_encoding.h"
#include "recording/video_file_writer_jpeg.h"
#include "recording/video_file_writer_png.h"
#include "recording_test_support.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int width = 640;
constexpr int height = 360;
const char* const default_template = "%frame_%dir-%way_%km-%m";

TrackPosition at(int frame, int km, double m) {
    TrackPosition p(frame);
    p.dir = "123456";
    p.way = "1";
    p.km = km;
    p.m = m;
    return p;
}

template <typename writer_type>
std::shared_ptr<video_file_writer_basic>
opened_writer(const scratch_folder& folder, const char* name_template, const char* camera = "Cam") {
    std::shared_ptr<video_file_writer_basic> writer = std::make_shared<writer_type>(
        wxString::FromUTF8(camera), wxString::FromUTF8(name_template));
    EXPECT_TRUE(writer->open(folder.wx_path()));
    // The row telling where the trip is recorded; its own test checks it.
    EXPECT_EQ(writer->take_rows().size(), 1u);
    return writer;
}

double mean_absolute_difference(const cv::Mat& picture, const std::vector<unsigned char>& rgb) {
    const cv::Mat decoded(picture.rows, picture.cols, CV_8UC3,
                          const_cast<unsigned char*>(rgb.data()));
    return cv::norm(picture, decoded, cv::NORM_L1) / static_cast<double>(picture.total() * 3);
}

TEST(ImageWriters, PngHoldsExactlyThePixelsWritten) {
    scratch_folder folder;
    const media::video_frame frame = camera_like_frame(width, height, 3);
    const cv::Mat picture = rgb_of(frame);
    {
        auto writer = opened_writer<video_file_writer_png>(folder, default_template);
        EXPECT_EQ(writer->write(frame, at(42, 12, 345.6)), 1u);
        writer->close();
    }
    const std::string trip = only_trip_folder(folder.path());
    const std::string file = trip + "/00000042_123456-1_0012-346.png";
    const auto decoded = decode_rgb(file, width, height);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(std::memcmp(decoded.data(), picture.data, decoded.size()), 0);
    const auto index = parse_index(trip + "/data.idx");
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0]["file"], "00000042_123456-1_0012-346.png");
    EXPECT_EQ(index[0]["frame_in_file"], "0");
}

TEST(ImageWriters, JpegHoldsThePixelsWithinATolerance) {
    scratch_folder folder;
    const media::video_frame frame = camera_like_frame(width, height, 4);
    const cv::Mat picture = rgb_of(frame);
    {
        auto writer = opened_writer<video_file_writer_jpeg>(folder, default_template);
        EXPECT_EQ(writer->write(frame, at(7, 3, 10)), 1u);
    }
    const std::string trip = only_trip_folder(folder.path());
    const auto decoded = decode_rgb(trip + "/00000007_123456-1_0003-10.jpeg", width, height);
    ASSERT_FALSE(decoded.empty());
    EXPECT_LT(mean_absolute_difference(picture, decoded), 8.0);
    // Red and blue swapped would be far off: the picture's channels differ on average by more.
    cv::Mat swapped;
    cv::cvtColor(picture, swapped, cv::COLOR_RGB2BGR);
    EXPECT_GT(mean_absolute_difference(swapped, decoded), 20.0);
}

TEST(ImageWriters, JpegStillsAreAtLeastAsGoodAsOpenCvsDefaultInNoMoreBytes) {
    // Each still stands alone; the first is coded with tables of its own, later ones with
    // tables fitted before. Both kinds are compared with cv::imencode at its default quality.
    media::jpeg_encoder encoder(still_jpeg_settings());
    for (int seed = 0; seed < 3; ++seed) {
        const media::video_frame picture = camera_like_frame(640, 480, seed);
        const cv::Mat luma = media::video_frame(picture.copy_in_range(true)).plane(0);
        const media::jpeg_bytes ours = encoder.encode(picture);
        const std::vector<unsigned char> our_bytes(ours.data, ours.data + ours.size);
        cv::Mat bgr;
        picture.to_bgr(bgr);
        std::vector<unsigned char> opencv_bytes;
        ASSERT_TRUE(cv::imencode(".jpeg", bgr, opencv_bytes));
        const double our_psnr = cv::PSNR(cv::imdecode(our_bytes, cv::IMREAD_GRAYSCALE), luma);
        const double opencv_psnr = cv::PSNR(cv::imdecode(opencv_bytes, cv::IMREAD_GRAYSCALE), luma);
        EXPECT_GE(our_psnr, opencv_psnr) << "still " << seed;
        EXPECT_LE(our_bytes.size(), opencv_bytes.size()) << "still " << seed;
    }
}

TEST(ImageWriters, TwoFramesAtTheSamePlaceKeepBothImages) {
    scratch_folder folder;
    const media::video_frame first = camera_like_frame(160, 120, 1);
    const media::video_frame second = camera_like_frame(160, 120, 2);
    {
        auto writer = opened_writer<video_file_writer_png>(folder, "%km-%m");
        EXPECT_EQ(writer->write(first, at(0, 5, 100)), 1u);
        EXPECT_EQ(writer->write(second, at(1, 5, 100)), 1u);
        writer->close();
    }
    const std::string trip = only_trip_folder(folder.path());
    EXPECT_EQ(scratch_folder::entries(trip),
              (std::vector<std::string>{"0005-100 (2).png", "0005-100.png", "data.idx"}));
    const auto index = parse_index(trip + "/data.idx");
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[1]["file"], "0005-100 (2).png");
    const auto decoded = decode_rgb(trip + "/0005-100.png", 160, 120);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(std::memcmp(decoded.data(), rgb_of(first).data, decoded.size()), 0);
}

TEST(ImageWriters, AnImageThatCannotBeSavedIsReportedOnceNotListedAndRetriedLater) {
    scratch_folder folder;
    auto writer = opened_writer<video_file_writer_png>(folder, default_template);
    const std::string trip = only_trip_folder(folder.path());
    EXPECT_EQ(writer->write(camera_like_frame(160, 120, 0), at(0, 1, 0)), 1u);
    std::filesystem::remove_all(trip);
    EXPECT_EQ(writer->write(camera_like_frame(160, 120, 1), at(1, 1, 10)), 0u);
    EXPECT_NE(writer->failure().utf8_string().find("00000001_123456-1_0001-10.png"),
              std::string::npos)
        << writer->failure();
    std::filesystem::create_directory(trip);
    // Within the retry interval nothing is tried, so the folder's return goes unnoticed.
    EXPECT_EQ(writer->write(camera_like_frame(160, 120, 2), at(2, 1, 20)), 0u);
    writer->set_retry_interval(std::chrono::milliseconds(0));
    EXPECT_EQ(writer->write(camera_like_frame(160, 120, 3), at(3, 1, 30)), 1u);
    const auto rows = writer->take_rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].failure);
    EXPECT_EQ(rows[0].text.utf8_string(),
              "Не удается сохранить изображение [" + trip + "/00000001_123456-1_0001-10.png]");
    EXPECT_FALSE(rows[1].failure);
    EXPECT_EQ(rows[1].text.utf8_string(),
              "Запись возобновлена [" + trip + "/00000003_123456-1_0001-30.png]");
    writer.reset();
    const auto index = parse_index(trip + "/data.idx");
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0]["frame"], "0");
    EXPECT_EQ(index[1]["frame"], "3");
}

TEST(ImageWriters, OpeningAsksForARowNamingTheTripFolder) {
    scratch_folder folder;
    const std::string write_path = folder.path() + "/Поездки";
    std::filesystem::create_directory(write_path);
    std::vector<writer_row> rows;
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_png>(
            wxString::FromUTF8("Дизель"), wxString::FromUTF8("%peregon_кадр"));
        ASSERT_TRUE(writer->open(wxString::FromUTF8(write_path)));
        rows = writer->take_rows();
        TrackPosition p(0);
        p.peregon = "Клин";
        EXPECT_EQ(writer->write(camera_like_frame(80, 60, 0), p), 1u);
        // As the writer thread ends a trip: a clean end leaves no write mark behind.
        writer->close();
        EXPECT_TRUE(writer->take_rows().empty());
    }
    const std::string trip = only_trip_folder(write_path);
    EXPECT_NE(trip.find("[Дизель]"), std::string::npos);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(rows[0].failure);
    EXPECT_EQ(rows[0].text.utf8_string(), "Запись: " + trip + "/");
    EXPECT_EQ(scratch_folder::entries(trip),
              (std::vector<std::string>{"data.idx", "Клин_кадр.png"}));
}

TEST(ImageWriters, AMissingWritePathAsksForARedRowAndFramesAreReported) {
    scratch_folder folder;
    std::shared_ptr<video_file_writer_basic> writer =
        std::make_shared<video_file_writer_jpeg>("Cam", default_template);
    const std::string unplugged = folder.path() + "/unplugged";
    EXPECT_FALSE(writer->open(wxString::FromUTF8(unplugged)));
    const std::vector<writer_row> rows = writer->take_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].failure);
    EXPECT_EQ(
        rows[0].text.utf8_string().rfind("Не удается создать папку записи [" + unplugged + "/", 0),
        0u)
        << rows[0].text;
    EXPECT_EQ(writer->write(camera_like_frame(80, 60, 0), at(0, 1, 0)), 0u);
    EXPECT_FALSE(writer->failure().empty());
    writer.reset();
    EXPECT_TRUE(scratch_folder::entries(folder.path()).empty());
}

TEST(ImageWriters, AnIndexThatCannotBeSavedIsReportedOncePerRunOfFailures) {
    scratch_folder folder;
    auto writer = std::make_shared<video_file_writer_png>("Cam", "%frame");
    ASSERT_TRUE(writer->open(folder.wx_path()));
    writer->set_index_save_interval(std::chrono::milliseconds(0));
    const std::string index_path = only_trip_folder(folder.path()) + "/data.idx";
    const std::string away = folder.path() + "/away.idx";
    // The index is taken away (a folder stands in its place) and put back, twice.
    const auto break_index = [&] {
        std::filesystem::rename(index_path, away);
        std::filesystem::create_directory(index_path);
    };
    const auto mend_index = [&] {
        std::filesystem::remove(index_path);
        std::filesystem::rename(away, index_path);
    };
    int frame = 0;
    const auto failure_rows = [&] {
        std::vector<wxString> texts;
        for (const writer_row& row : writer->take_rows())
            if (row.failure)
                texts.push_back(row.text);
        return texts;
    };
    // The failure rows asked for over the frames written; every frame reaches its file.
    const auto write_frames = [&](int count) {
        std::vector<wxString> reports;
        for (int i = 0; i < count; ++i, ++frame) {
            EXPECT_EQ(
                writer->write(media::video_frame::from_rgb(camera_like_picture(80, 60, frame)),
                              at(frame, 1, 0)),
                1u);
            for (const wxString& report : failure_rows())
                reports.push_back(report);
        }
        return reports;
    };
    const wxString row =
        wxString::FromUTF8("Не удается сохранить индекс [") + wxString::FromUTF8(index_path) + "]";

    EXPECT_TRUE(write_frames(2).empty());
    break_index();
    EXPECT_EQ(write_frames(3), std::vector<wxString>{row});
    mend_index();
    EXPECT_TRUE(write_frames(2).empty());
    EXPECT_EQ(parse_index(index_path).size(), 7u) << "the frames of the failed saves too";
    break_index();
    EXPECT_EQ(write_frames(2), std::vector<wxString>{row});
    // The last save fails as well: the same run of failures, no second report.
    writer->close();
    EXPECT_TRUE(failure_rows().empty());
    mend_index();
    EXPECT_EQ(parse_index(index_path).size(), 7u);
}

} // namespace
