// kestrel-trips run as the office PC runs it, over trips the recorder's own writers made: the
// trip list, every pass at a place, a frame against ffmpeg's decoding of the same file, clips
// against ffprobe and the index, and every kind of bad input.

#include "archive/trip_index.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_png.h"
#include "tests/recording/recording_test_support.h"
#include "tests/support/child_process.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr int width = 320;
constexpr int height = 240;

// Frame i of a trip: 10 m apart from 126+500, so km 127 begins at frame 50.
TrackPosition place_of_frame(int i) {
    TrackPosition p = place_of_frame_10m_apart(i);
    p.peregon = u8"Сосновка - Берёзовая";
    return p;
}

// A trip of 60 frames recorded by the recorder's writer: one file per kilometre.
fs::path record_trip(video_file_writer_basic& writer, const fs::path& root) {
    EXPECT_TRUE(writer.open(wxString::FromUTF8(root.string())));
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(writer.write(camera_like_frame(width, height, i), place_of_frame(i)), 1u);
    writer.close();
    return fs::path(writer.trip_folder().utf8_string());
}

using tool_result = trip_tool_result;

// Runs kestrel-trips over `root` with the arguments.
tool_result run_tool(const fs::path& root, const std::vector<std::string>& arguments,
                     const std::string& environment = "") {
    return run_trip_tool(root.string(), arguments, environment);
}

// The decoded frames of a video as ffmpeg hashes them, in order.
std::vector<std::string> frame_hashes(const fs::path& video) {
    std::istringstream lines(
        run_command("ffmpeg -v error -i " + shell_quote(video.string()) + " -f framemd5 -"));
    std::vector<std::string> hashes;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#')
            hashes.push_back(line.substr(line.find_last_of(", ") + 1));
    return hashes;
}

class trip_tool : public testing::Test {
protected:
    static void SetUpTestSuite() {
        archive = new scratch_folder;
        root = fs::path(archive->path()) / "recordings";
        fs::create_directories(root);
        video_file_writer_avi mjpeg("MJPEG", wxString::FromUTF8("Котел"),
                                    wxString::FromUTF8("1 километр"));
        mjpeg_trip = record_trip(mjpeg, root);
        video_file_writer_avi mpeg4("XVID", wxString::FromUTF8("Дизель"),
                                    wxString::FromUTF8("1 километр"));
        mpeg4_trip = record_trip(mpeg4, root);
    }
    static void TearDownTestSuite() { delete archive; }

    static scratch_folder* archive;
    static fs::path root;
    static fs::path mjpeg_trip;
    static fs::path mpeg4_trip;
};

scratch_folder* trip_tool::archive = nullptr;
fs::path trip_tool::root;
fs::path trip_tool::mjpeg_trip;
fs::path trip_tool::mpeg4_trip;

} // namespace

TEST_F(trip_tool, lists_trips_and_every_pass_at_a_place) {
    const tool_result list = run_tool(root, {"list"});
    ASSERT_EQ(list.status, 0) << list.error_lines.size();
    const auto trips = simple_csv_rows(list.out);
    ASSERT_EQ(trips.size(), 3u) << list.out;
    EXPECT_EQ(trips[0], (std::vector<std::string>{"folder", "camera", "start", "end", "frames",
                                                  "first", "last", "offloaded", "verified"}));
    for (size_t row = 1; row < 3; ++row) {
        EXPECT_EQ(trips[row][4], "60");
        EXPECT_EQ(trips[row][5], "126+500");
        EXPECT_EQ(trips[row][6], "127+90");
    }
    EXPECT_TRUE(fs::exists(root / "catalogue.sqlite"));

    // The settings' write_path is the root when none is given.
    scratch_folder home;
    fs::create_directories(fs::path(home.path()) / "Meridian5" / "config");
    std::ofstream(fs::path(home.path()) / "Meridian5" / "config" / ".kestrel")
        << "write_path=" << root.string() << "\n";
    const std::string from_settings =
        run_command("HOME=" + shell_quote(home.path()) + " " +
                    shell_quote(test_support::tool_path("trips/kestrel-trips")) + " list");
    EXPECT_EQ(from_settings, list.out);

    // 126+740 is frame 24 of each trip: the first kilometre's file, place 24 in it.
    const tool_result place = run_tool(root, {"place", "126+740"});
    ASSERT_EQ(place.status, 0);
    const auto rows = simple_csv_rows(place.out);
    ASSERT_EQ(rows.size(), 3u) << place.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"folder", "camera", "file", "frame_in_file",
                                                 "frame", "abs", "km", "m", "time", "dir", "way"}));
    for (size_t row = 1; row < 3; ++row) {
        const trip_index index = trip_index::read(root / rows[row][0] / "data.idx");
        ASSERT_EQ(index.records().size(), 60u) << rows[row][0];
        EXPECT_EQ(rows[row][2], index.files()[0]);
        EXPECT_EQ(rows[row][3], "24");
        EXPECT_EQ(rows[row][4], "24");
        EXPECT_EQ(rows[row][5], "126740.000000");
        EXPECT_EQ(rows[row][6], "126");
        EXPECT_EQ(rows[row][8], index.records()[24].time_text);
        EXPECT_EQ(rows[row][9], "240100");
        EXPECT_EQ(rows[row][10], "1");
    }
    // The absolute form and a wider reach find the same frames.
    EXPECT_EQ(run_tool(root, {"place", "126742", "--within", "5"}).out, place.out);
    EXPECT_EQ(simple_csv_rows(run_tool(root, {"place", "127+089"}).out).at(1).at(3), "9");
}

TEST_F(trip_tool, frame_is_the_picture_ffmpeg_decodes_at_that_place) {
    for (const fs::path& trip : {mjpeg_trip, mpeg4_trip}) {
        const fs::path png = fs::path(archive->path()) / "frame.png";
        const tool_result result =
            run_tool(root, {"frame", trip.filename().string(), "126+933", "-o", png.string()});
        ASSERT_EQ(result.status, 0) << (result.error_lines.empty() ? "" : result.error_lines[0]);
        // Frame 43 of the first file; ffmpeg picks it out of the whole file.
        const trip_index index = trip_index::read(trip / "data.idx");
        const std::string video = (trip / index.files()[0]).string();
        const std::string decoded =
            run_command("ffmpeg -v error -i " + shell_quote(video) +
                        " -vf 'select=eq(n\\,43)' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(decoded.size(), static_cast<size_t>(width * height * 3));
        cv::Mat ours = cv::imread(png.string(), cv::IMREAD_COLOR);
        ASSERT_EQ(ours.size(), cv::Size(width, height));
        cv::cvtColor(ours, ours, cv::COLOR_BGR2RGB);
        const cv::Mat theirs(height, width, CV_8UC3, const_cast<char*>(decoded.data()));
        cv::Mat difference;
        cv::absdiff(ours, theirs, difference);
        EXPECT_LT(cv::mean(difference.reshape(1))[0], 2.0) << trip;
        // Another frame of the file differs far more: the comparison can tell frames apart.
        const std::string neighbour =
            run_command("ffmpeg -v error -i " + shell_quote(video) +
                        " -vf 'select=eq(n\\,40)' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        cv::absdiff(ours, cv::Mat(height, width, CV_8UC3, const_cast<char*>(neighbour.data())),
                    difference);
        EXPECT_GT(cv::mean(difference.reshape(1))[0], 5.0) << trip;
        fs::remove(png);
    }
}

// From 126+640 (frame 14) to 127+050 (frame 55), across the kilometre's two files. MJPEG takes
// exactly those frames; MPEG-4 starts at the key frame before (every 12th: frame 12).
TEST_F(trip_tool, clip_holds_the_frames_between_the_places_copied_as_recorded) {
    struct expected_clip {
        fs::path trip;
        int first;
    };
    for (const expected_clip& clip :
         {expected_clip{mjpeg_trip, 14}, expected_clip{mpeg4_trip, 12}}) {
        const fs::path avi = fs::path(archive->path()) / "clip.avi";
        const tool_result result = run_tool(root, {"clip", clip.trip.filename().string(), "126+640",
                                                   "127+050", "-o", avi.string()});
        ASSERT_EQ(result.status, 0) << (result.error_lines.empty() ? "" : result.error_lines[0]);
        const int frames = 55 - clip.first + 1;
        EXPECT_EQ(result.out, "records " + std::to_string(clip.first) + "-55, frames " +
                                  std::to_string(clip.first) + "-55, " + std::to_string(frames) +
                                  " frames written to " + avi.string() + "\n");
        EXPECT_EQ(probe_video(avi.string()).frames, frames);
        // Copied, not encoded again: the clip decodes to the recorded files' very frames.
        const trip_index index = trip_index::read(clip.trip / "data.idx");
        std::vector<std::string> recorded = frame_hashes(clip.trip / index.files()[0]);
        const std::vector<std::string> second = frame_hashes(clip.trip / index.files()[1]);
        ASSERT_EQ(recorded.size(), 50u);
        recorded.erase(recorded.begin(), recorded.begin() + clip.first);
        recorded.insert(recorded.end(), second.begin(), second.begin() + 6);
        EXPECT_EQ(frame_hashes(avi), recorded);
        fs::remove(avi);
    }
}

TEST_F(trip_tool, bad_input_gets_one_line_and_leaves_no_file) {
    scratch_folder bad;
    const fs::path bad_root = fs::path(bad.path()) / "recordings";
    const auto copy_as = [&](const fs::path& trip, const char* name) {
        fs::copy(trip, bad_root / name, fs::copy_options::recursive);
        return bad_root / name;
    };
    fs::create_directories(bad_root);
    fs::remove(copy_as(mjpeg_trip, u8"2026.01.01 10.00.00[Котел]") / "data.idx");
    std::ofstream(copy_as(mjpeg_trip, u8"2026.01.01 11.00.00[Котел]") / "data.idx")
        << "<section><frame";
    const trip_index index = trip_index::read(mjpeg_trip / "data.idx");
    fs::remove(copy_as(mjpeg_trip, u8"2026.01.01 12.00.00[Котел]") / index.files()[0]);
    std::ofstream(copy_as(mpeg4_trip, u8"2026.01.01 13.00.00[Дизель]") /
                  trip_index::read(mpeg4_trip / "data.idx").files()[0])
        << std::string(5000, 'x');
    video_file_writer_png stills(wxString::FromUTF8("Котел"), "%frame_%km-%m");
    const std::string still_trip = record_trip(stills, bad_root).string();

    struct bad_case {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    };
    const fs::path out = fs::path(bad.path()) / "out";
    fs::create_directories(out);
    const std::string png = (out / "x.png").string();
    const std::string avi = (out / "x.avi").string();
    const std::vector<bad_case> cases = {
        {{"place", "12x+5"}, 1, "cannot read the place \"12x+5\""},
        {{"place", "126+"}, 1, "cannot read the place"},
        {{"place", "300+000"}, 1, "no trip passed within 25 m of 300+000"},
        {{"frame", mjpeg_trip.string(), "300+000", "-o", png}, 1, "has no frame within 25 m"},
        {{"frame", mjpeg_trip.string(), "12x", "-o", png}, 1, "cannot read the place"},
        {{"frame", "2020.01.01 00.00.00[Котел]", "126+740", "-o", png}, 1, "no trip folder"},
        {{"frame", u8"2026.01.01 10.00.00[Котел]", "126+740", "-o", png}, 1, "has no data.idx"},
        {{"frame", u8"2026.01.01 11.00.00[Котел]", "126+740", "-o", png}, 1, "is broken"},
        {{"frame", u8"2026.01.01 12.00.00[Котел]", "126+740", "-o", png}, 1, "is missing"},
        {{"frame", u8"2026.01.01 13.00.00[Дизель]", "126+740", "-o", png}, 1, "cannot open"},
        {{"clip", u8"2026.01.01 13.00.00[Дизель]", "126+600", "127+050", "-o", avi},
         1,
         "cannot open"},
        {{"clip", u8"2026.01.01 12.00.00[Котел]", "126+600", "127+050", "-o", avi},
         1,
         "is missing"},
        {{"clip", still_trip, "126+600", "127+050", "-o", avi}, 1, "still pictures"},
        {{"clip", mjpeg_trip.string(), "126+600", "127+050", "-o",
          (out / "gone" / "x.avi").string()},
         1,
         "gone"},
        {{"frame", mjpeg_trip.string(), "126+600", "-o", (out / "gone" / "x.png").string()},
         1,
         "gone"},
        {{"clip", mjpeg_trip.string(), "126+600", "127+050"}, 2, "-o is missing"},
        {{"frame", mjpeg_trip.string()}, 2, "usage: kestrel-trips frame"},
        {{"place", "126+740", "--within", "far"}, 2, "--within needs a distance"},
        {{"rename"}, 2, "unknown command rename"},
        {{}, 2, "no command"},
    };
    for (const bad_case& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments)
            shown += argument + " ";
        const tool_result result = run_tool(bad_root, c.arguments);
        EXPECT_EQ(result.status, c.status) << shown;
        EXPECT_EQ(result.error_lines.size(), 1u) << shown;
        if (result.error_lines.empty())
            continue;
        EXPECT_EQ(result.error_lines[0].rfind("kestrel-trips: ", 0), 0u) << result.error_lines[0];
        EXPECT_NE(result.error_lines[0].find(c.said), std::string::npos)
            << shown << "-> " << result.error_lines[0];
        EXPECT_TRUE(result.out.empty()) << shown << "-> " << result.out;
        EXPECT_TRUE(scratch_folder::entries(out.string()).empty()) << shown;
    }
}
