// The camera's state between its threads: every frame counted once however the observer keeps
// up, one picture notice at a time, frames handed to the writer whole and in order, and a
// thread that ended by itself never asked to stop.

#include "camera/camera_feed.h"

#include <atomic>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <thread>

namespace {

class counting_observer : public camera_feed::observer {
public:
    void picture_ready() override { ++pictures; }
    void rows_ready() override { ++rows; }
    std::atomic<int> pictures{0};
    std::atomic<int> rows{0};
};

media::video_frame small_picture(int shade) {
    return media::video_frame::from_rgb(cv::Mat(16, 16, CV_8UC3, cv::Scalar(shade, shade, shade)));
}

TrackPosition fixed_at(int frame) {
    TrackPosition position(frame);
    position.has_fix = true;
    position.abs = 1000.0 + frame;
    return position;
}

TEST(CameraFeed, EveryFrameIsReceivedOnceWhileNoticesComeOneAtATime) {
    counting_observer watcher;
    camera_feed feed(&watcher);
    EXPECT_FALSE(feed.latest_picture().has_value());
    constexpr int frames = 2000;
    const media::video_frame picture = small_picture(100);
    std::thread capture([&] {
        for (int i = 0; i < frames; ++i)
            feed.publish(picture, fixed_at(i));
    });
    // A GUI thread that keeps up only now and then.
    int taken = 0;
    while (feed.received() < frames) {
        if (watcher.pictures.load() > taken) {
            ++taken;
            feed.picture_noticed();
        }
        std::this_thread::yield();
    }
    capture.join();
    EXPECT_EQ(feed.received(), frames);
    EXPECT_LE(watcher.pictures.load(), taken + 1) << "a second notice while one is out";
    const auto latest = feed.latest_picture();
    ASSERT_TRUE(latest.has_value());
    EXPECT_EQ(latest->serial, static_cast<uint64_t>(frames));
    EXPECT_EQ(latest->position.frame, frames - 1);
    EXPECT_EQ(feed.progress().km, 0);
    EXPECT_TRUE(feed.progress().last_fix.has_value());
}

TEST(CameraFeed, TheWriterGetsEveryQueuedFrameInOrderThenTheEnd) {
    camera_feed feed(nullptr);
    constexpr int frames = 300;
    std::thread capture([&] {
        for (int i = 0; i < frames; ++i)
            EXPECT_EQ(feed.queue_for_writer(frame_item{small_picture(i % 200), fixed_at(i), {}}),
                      0);
        EXPECT_EQ(feed.finish_queue(), 0);
    });
    std::deque<frame_item> batch;
    std::vector<int> order;
    for (bool more = true; more;) {
        const auto wake = feed.wait_for_frames(std::chrono::milliseconds(50));
        if (wake == camera_feed::writer_wake::idle)
            continue;
        more = wake == camera_feed::writer_wake::frames;
        feed.take_queued(batch);
        for (const frame_item& item : batch)
            order.push_back(static_cast<int>(item.position.frame));
        batch.clear();
        feed.frames_written(order.size() - static_cast<std::size_t>(feed.written()));
    }
    capture.join();
    ASSERT_EQ(order.size(), static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(feed.written(), frames);
    EXPECT_EQ(feed.progress().written, frames);
}

TEST(CameraFeed, RowsKeepTheirOrderAndAThreadThatEndedIsNotAskedToStop) {
    counting_observer watcher;
    camera_feed feed(&watcher);
    std::thread worker([&] {
        feed.post_journal_row(false, "one");
        feed.post_journal_rows({{true, "two"}, {true, "three"}});
        feed.capture_ended();
    });
    worker.join();
    const auto rows = feed.take_rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "one");
    EXPECT_FALSE(rows[0].error);
    EXPECT_EQ(rows[2].text, "three");
    EXPECT_TRUE(rows[2].error);
    EXPECT_EQ(watcher.rows.load(), 2);
    EXPECT_TRUE(feed.take_rows().empty());

    bool asked = false;
    feed.stop_capture([&] { asked = true; });
    EXPECT_FALSE(asked);

    // A writer still running is asked, and the wait lasts until it has ended.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load())
            std::this_thread::yield();
        feed.writer_ended();
    });
    feed.stop_writer([&] { stop = true; });
    EXPECT_TRUE(stop.load());
    writer.join();
}

} // namespace
