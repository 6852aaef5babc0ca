// A disk that fills up under a running recording, made without root: a child process lowers
// its own file-size limit (the writes then fail with EFBIG, as on a full disk) and raises it
// again, as if space had been freed.

#include "recording/video_file_writer_avi.h"
#include "recording_test_support.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int width = 320;
constexpr int height = 240;
constexpr int frames_while_full = 30;
constexpr int frames_after = 10;
// A few frames of the camera-like picture fit; the index stays well below it.
constexpr rlim_t small_limit = 200000;

TrackPosition at(int frame) {
    TrackPosition p(frame);
    p.dir = "123456";
    p.way = "1";
    p.km = 1;
    return p;
}

bool set_file_size_limit(rlim_t soft) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = soft;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// The child's whole run: records through the full disk and writes what the writer reported
// (journal rows, frames it counted as written) into `report`. Returns the exit status.
int record_through_full_disk(const scratch_folder& folder, const std::string& report) {
    // Over the limit the kernel would kill the process; ignored, the write fails instead.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    std::size_t written = 0;
    std::vector<writer_row> rows;
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_avi>(
            "MJPEG", "Cam", wxString::FromUTF8("Вся поездка"));
        if (!writer->open(folder.wx_path()))
            return 10;
        // No retries while the disk is full: the episode gives one row however long it lasts.
        writer->set_retry_interval(std::chrono::hours(1));
        if (!set_file_size_limit(small_limit))
            return 11;
        for (int frame = 0; frame < frames_while_full; ++frame)
            written += writer->write(camera_like_frame(width, height, frame), at(frame));
        if (!set_file_size_limit(original.rlim_cur))
            return 12;
        writer->set_retry_interval(std::chrono::milliseconds(0));
        for (int frame = frames_while_full; frame < frames_while_full + frames_after; ++frame)
            written += writer->write(camera_like_frame(width, height, frame), at(frame));
        written += writer->close();
        rows = writer->take_rows();
    }
    std::ofstream out(report);
    out << written << "\n";
    for (const auto& row : rows)
        out << (row.failure ? "red " : "blue ") << row.text.utf8_string() << "\n";
    return out ? 0 : 13;
}

TEST(DiskFull, OneRowNoIndexForLostFramesAndRecordingResumesWhenSpaceReturns) {
    scratch_folder folder;
    const std::string report = folder.path() + "/report.txt";
    scratch_folder write_path;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(record_through_full_disk(write_path, report));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::string trip = only_trip_folder(write_path.path());
    std::ifstream in(report);
    std::size_t written = 0;
    in >> written;
    in.ignore();
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);)
        rows.push_back(line);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "blue Запись: " + trip + "/",
                        "red Не удается записать видеофайл [" + trip + "/123456-1.avi]",
                        "blue Запись возобновлена [" + trip + "/123456-1 (2).avi]"}));

    const auto index = parse_index(trip + "/data.idx");
    EXPECT_EQ(index.size(), written);
    auto per_file = frames_per_file(index);
    const int before = per_file["123456-1.avi"];
    EXPECT_GT(before, 0);
    EXPECT_LT(before, frames_while_full);
    // Every listed frame decodes; the frame cut off by the full disk may decode in part, but it
    // is not listed.
    const int decodable = probe_video(trip + "/123456-1.avi").frames;
    EXPECT_GE(decodable, before);
    EXPECT_LE(decodable, before + 1);
    EXPECT_EQ(per_file["123456-1 (2).avi"], frames_after);
    EXPECT_EQ(probe_video(trip + "/123456-1 (2).avi").frames, frames_after);
    ASSERT_EQ(index.size(), static_cast<std::size_t>(before + frames_after));
    EXPECT_EQ(index[before]["frame"], std::to_string(frames_while_full));
    EXPECT_EQ(index[before]["frame_in_file"], "0");
}

} // namespace
