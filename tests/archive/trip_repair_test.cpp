// Trips a cut left behind, repaired as the next start repairs them: the recorder's own writer
// stopped without its clean end, or a recording program killed, then the files checked with
// ffprobe, data.idx with python3's XML parser and the trip tool run as the office PC runs it.

#include "archive/trip_repair.h"
#include "recording/video_file_writer_avi.h"
#include "tests/recording/recording_test_support.h"
#include "tests/support/child_process.h"
#include "trip_format/trip_write_mark.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TrackPosition place_of_frame(int i) {
    TrackPosition p = place_of_frame_10m_apart(i);
    p.peregon = std::to_string(i / 10);
    return p;
}

// A trip whose writer wrote `frames` frames and never reached its clean end: the index lists
// every frame, the video file has no trailer, the write mark stays behind unheld.
fs::path trip_cut_after(const scratch_folder& root, int frames) {
    auto writer =
        std::make_shared<video_file_writer_avi>("MJPEG", "Cam", wxString::FromUTF8("Вся поездка"));
    EXPECT_TRUE(writer->open(root.wx_path()));
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(writer->write(camera_like_frame(160, 120, i), place_of_frame(i)), 1u);
    return fs::path(writer->trip_folder().utf8_string());
}

std::string duration_of(const fs::path& video) {
    std::string text = run_command("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                   shell_quote(video.string()));
    return text.substr(0, text.find('\n'));
}

// Every file of the trip folder with its bytes: what a second repair must leave alone.
std::map<std::string, std::string> contents_of(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = read_file_text(entry.path().string());
    return contents;
}

// Per video file of the trip: the records data.idx lists (each at its place in the file, in
// order) against the frames ffprobe decodes; and every file finished (it has a duration).
void expect_index_matches_files(const fs::path& trip) {
    const auto index = parse_index((trip / "data.idx").string());
    std::map<std::string, int> listed;
    for (const index_frame& record : index) {
        EXPECT_EQ(record["frame_in_file"], std::to_string(listed[record["file"]]))
            << record["file"];
        ++listed[record["file"]];
    }
    int videos = 0;
    for (const auto& entry : fs::directory_iterator(trip)) {
        if (entry.path().extension() != ".avi")
            continue;
        ++videos;
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(listed[name], probe_video(entry.path().string()).frames) << name;
        const std::string duration = duration_of(entry.path());
        EXPECT_TRUE(!duration.empty() && std::isdigit(static_cast<unsigned char>(duration[0])))
            << name << " has no duration: " << duration;
    }
    EXPECT_GT(videos, 0);
}

TEST(TripRepair, ATornLastFrameAndRecordsPastTheDataGoAndTheFileIsFinished) {
    scratch_folder root;
    const fs::path trip = trip_cut_after(root, 30);
    ASSERT_EQ(trip_format::state_of_trip(trip), trip_format::trip_state::cut);
    const auto videos = test_support::files_with_extension(trip.string(), ".avi");
    ASSERT_EQ(videos.size(), 1u);
    // The cut tore the last chunk: its last bytes never reached the disk.
    fs::resize_file(videos[0], fs::file_size(videos[0]) - 100);
    EXPECT_EQ(duration_of(videos[0]), "N/A") << "a file without its trailer has no duration";

    const auto reports = archive::repair_cut_trips(root.path());
    ASSERT_EQ(reports.size(), 1u);
    const archive::trip_repair_report& report = reports[0];
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(report.frames, 29u);
    EXPECT_EQ(report.records_dropped, 1u);
    EXPECT_EQ(report.records_added, 0u);
    EXPECT_EQ(report.files_finished, 1u);
    EXPECT_NE(report.row().find(u8"Поездка восстановлена"), std::string::npos) << report.row();
    EXPECT_EQ(trip_format::state_of_trip(trip), trip_format::trip_state::finished);
    expect_index_matches_files(trip);
    EXPECT_FALSE(fs::exists(videos[0] + ".repairing"));

    // A repaired trip is a finished one: the next start finds nothing to do.
    const auto before = contents_of(trip);
    EXPECT_TRUE(archive::repair_cut_trips(root.path()).empty());
    EXPECT_EQ(contents_of(trip), before);
}

TEST(TripRepair, FilesWhoseHeaderNeverReachedTheDiskGoOrAreSetAside) {
    scratch_folder root;
    const fs::path trip = trip_cut_after(root, 5);
    // Made just before the cut: its name reached the disk, its bytes did not (zeros), or only
    // some bytes that are no AVI.
    std::ofstream(trip / "zeros.avi", std::ios::binary) << std::string(8192, '\0');
    std::ofstream(trip / "junk.avi", std::ios::binary) << "not a video";
    const auto reports = archive::repair_cut_trips(root.path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].complete()) << reports[0].row();
    EXPECT_EQ(reports[0].files_removed, 1u);
    EXPECT_EQ(reports[0].files_set_aside, 1u);
    EXPECT_EQ(reports[0].frames, 5u);
    EXPECT_FALSE(fs::exists(trip / "zeros.avi"));
    EXPECT_FALSE(fs::exists(trip / "junk.avi"));
    EXPECT_EQ(read_file_text((trip / "junk.avi.damaged").string()), "not a video");
    expect_index_matches_files(trip);
}

TEST(TripRepair, TripsNotCutAreLeftAlone) {
    scratch_folder root;
    auto writer =
        std::make_shared<video_file_writer_avi>("MJPEG", "Cam", wxString::FromUTF8("Вся поездка"));
    ASSERT_TRUE(writer->open(root.wx_path()));
    for (int i = 0; i < 5; ++i)
        writer->write(camera_like_frame(160, 120, i), place_of_frame(i));
    const fs::path trip(writer->trip_folder().utf8_string());
    // Being written: its mark is held.
    EXPECT_EQ(trip_format::state_of_trip(trip), trip_format::trip_state::being_written);
    EXPECT_TRUE(archive::repair_cut_trips(root.path()).empty());
    EXPECT_TRUE(archive::repair_trip(trip).folder.empty());
    writer->close();
    EXPECT_EQ(trip_format::state_of_trip(trip), trip_format::trip_state::finished);
    const auto before = contents_of(trip);
    EXPECT_TRUE(archive::repair_cut_trips(root.path()).empty());
    EXPECT_EQ(contents_of(trip), before);
}

// The recording helper of the crash tests, killed as a power cut ends a program, after it has
// written a few files of its trip.
fs::path trip_of_a_killed_recorder(const scratch_folder& root) {
    test_support::child_process recorder(KESTREL_RECORDING_HELPER, {root.path(), "AVI", "1000"}, {},
                                         {false, true});
    std::string trip;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : fs::directory_iterator(root.path()))
            trip = entry.path().string();
        if (!trip.empty() && test_support::files_with_extension(trip, ".avi").size() >= 4 &&
            fs::exists(fs::path(trip) / "data.idx"))
            break;
        std::this_thread::sleep_for(50ms);
    }
    recorder.kill_now();
    return trip;
}

struct listed_trip {
    std::string folder;
    long frames = -1;
};

listed_trip list_with_the_tool(const fs::path& root) {
    const auto rows = simple_csv_rows(run_trip_tool(root.string(), {"list"}).out);
    listed_trip trip;
    // The first row is the header.
    if (rows.size() >= 2 && rows[1].size() >= 5) {
        trip.folder = rows[1][0];
        trip.frames = std::atol(rows[1][4].c_str());
    }
    return trip;
}

// Frames ffprobe decodes in a file; none in a file it cannot read at all (a kill while a new
// file's header was being written leaves one).
long frames_ffprobe_decodes(const std::string& video) {
    int status = 0;
    const std::string count =
        run_command("ffprobe -v quiet -count_frames -select_streams v:0 -show_entries "
                    "stream=nb_read_frames -of csv=p=0 " +
                        shell_quote(video),
                    &status);
    long frames = 0;
    std::istringstream(count) >> frames;
    return status == 0 ? frames : 0;
}

long decodable_frames(const fs::path& trip) {
    long frames = 0;
    for (const std::string& video : test_support::files_with_extension(trip.string(), ".avi"))
        frames += frames_ffprobe_decodes(video);
    return frames;
}

// The trip tool reads the cut trip: a frame and a clip at its last listed place.
void expect_tool_reads_last_place(const fs::path& root, const fs::path& trip) {
    const auto index = parse_index((trip / "data.idx").string());
    ASSERT_FALSE(index.empty());
    const auto place_of = [](const index_frame& record) {
        return record["km"] + "+" + record["m"];
    };
    const std::string place = place_of(index.back());
    const std::string first = place_of(index.front());
    const std::string tool = shell_quote(test_support::tool_path("trips/kestrel-trips")) +
                             " --root " + shell_quote(root.string()) + " ";
    int status = -1;
    const fs::path picture = root / "last.png";
    run_command(tool + "frame " + shell_quote(trip.filename().string()) + " " + place + " -o " +
                    shell_quote(picture.string()) + " 2>&1",
                &status);
    EXPECT_EQ(status, 0);
    EXPECT_GT(fs::file_size(picture), 0u);
    fs::remove(picture);
    const fs::path clip = root / "clip.avi";
    const std::string said =
        run_command(tool + "clip " + shell_quote(trip.filename().string()) + " " + first + " " +
                        place + " -o " + shell_quote(clip.string()) + " 2>&1",
                    &status);
    EXPECT_EQ(status, 0) << said;
    const int frames = probe_video(clip.string()).frames;
    EXPECT_GT(frames, 0) << said;
    EXPECT_NE(said.find(std::to_string(frames) + " frames written"), std::string::npos) << said;
    fs::remove(clip);
}

TEST(TripRepair, AKilledRecordersTripIsReadBeforeAndAfterItsRepair) {
    scratch_folder root;
    const fs::path trip = trip_of_a_killed_recorder(root);
    ASSERT_FALSE(trip.empty());
    ASSERT_EQ(trip_format::state_of_trip(trip), trip_format::trip_state::cut);

    // Before: every record names a frame the files hold; the last second may lack records.
    const long on_disk = decodable_frames(trip);
    const auto index_before = parse_index((trip / "data.idx").string());
    std::map<std::string, long> frames_of_file;
    for (const std::string& video : test_support::files_with_extension(trip.string(), ".avi"))
        frames_of_file[fs::path(video).filename().string()] = frames_ffprobe_decodes(video);
    for (const index_frame& record : index_before)
        EXPECT_LT(std::stoi(record["frame_in_file"]), frames_of_file[record["file"]])
            << record["file"];
    const listed_trip before = list_with_the_tool(root.path());
    EXPECT_EQ(before.frames, static_cast<long>(index_before.size()));
    EXPECT_LE(before.frames, on_disk);
    expect_tool_reads_last_place(root.path(), trip);

    const auto reports = archive::repair_cut_trips(root.path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].complete()) << reports[0].row();
    EXPECT_EQ(static_cast<long>(reports[0].frames), on_disk) << reports[0].row();
    expect_index_matches_files(trip);
    EXPECT_EQ(decodable_frames(trip), on_disk) << "the repair lost a decodable frame";

    const listed_trip after = list_with_the_tool(root.path());
    EXPECT_EQ(after.frames, on_disk);
    expect_tool_reads_last_place(root.path(), trip);

    const auto repaired = contents_of(trip);
    EXPECT_TRUE(archive::repair_cut_trips(root.path()).empty());
    EXPECT_EQ(contents_of(trip), repaired);
}

} // namespace
