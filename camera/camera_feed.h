#pragma once
// What one open camera has between its threads and whoever shows it: the latest picture and its
// position, the frames waiting for the writer, the counts of frames received and written, the
// journal rows the threads send, and whether each thread still runs. It is not a window: the
// capture and writer threads talk to it, and a pane (or a benchmark, or a test) observes it.
//
// Locks: each feed has its own. Two cameras never wait for each other, and a feed's locks are
// never held two at a time.

#include "camera/camera_progress.h"
#include "camera/frame_item.h"
#include "camera/pipeline_rules.h"
#include "position/track_position.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>
#include <wx/msgqueue.h>
#include <wx/string.h>

class camera_feed {
public:
    // Told from a worker thread; an observer only hands the news to its own thread. A new
    // picture is told once until the observer takes it (latest_picture), so a slow GUI thread
    // is never flooded; rows are told with every row.
    class observer {
    public:
        virtual void picture_ready() = 0;
        virtual void rows_ready() = 0;

    protected:
        ~observer() = default;
    };

    struct journal_row {
        bool error;
        wxString text;
    };

    // The latest picture as the observer takes it; `serial` grows with every published frame.
    struct shown_frame {
        media::video_frame picture;
        TrackPosition position;
        uint64_t serial = 0;
    };

    // `watcher` (may be null) must outlive both threads.
    explicit camera_feed(observer* watcher);
    camera_feed(const camera_feed&) = delete;
    camera_feed& operator=(const camera_feed&) = delete;

    // Capture thread: the latest frame for display; counted as received.
    void publish(const media::video_frame& picture, const TrackPosition& position);
    // Capture thread: queues a frame for the writer within the byte budget and wakes the
    // writer. Returns the number of frames of an overflow that just ended (0 otherwise).
    long queue_for_writer(frame_item item);
    // Capture thread, as it ends: frames of an overflow still going on, then the writer is told
    // that nothing more comes.
    long finish_queue();

    // Writer thread: waits for the capture thread's word, at most `patience`. frames: frames may
    // be waiting; finished: no more will come (the queue is still to be emptied); idle: nothing
    // came meanwhile.
    enum class writer_wake { frames, finished, idle };
    writer_wake wait_for_frames(std::chrono::milliseconds patience);
    // Writer thread: moves every queued frame to the end of `batch`.
    void take_queued(std::deque<frame_item>& batch);
    // Writer thread: that many more frames reached a file.
    void frames_written(std::size_t frames) { written_frames += static_cast<int32_t>(frames); }
    // Writer thread: how long it has spent forcing files to the disk, and how often.
    void set_sync_totals(std::chrono::nanoseconds syncing, uint64_t syncs) {
        syncing_ns = syncing.count();
        syncs_done = syncs;
    }
    // Writer thread: the disk is at its floor and nothing is recorded, or it has room again.
    void set_recording_stopped(bool stopped) { recording_stopped = stopped; }

    // Any thread: a row (red when `error`) for the journal. Rows never get lost: the GUI thread
    // takes what is left when the camera closes.
    void post_journal_row(bool error, const wxString& text);
    // Rows that belong together: nothing of another camera comes between them.
    void post_journal_rows(const std::vector<journal_row>& together);
    std::vector<journal_row> take_rows();

    // Worker threads' ends, told from their destructors (re-entrant: on some toolkits the
    // destructor runs inside the stop call on the GUI thread, which holds the guard).
    void capture_ended();
    void writer_ended();
    // GUI thread: `ask_to_stop` is run under the guard while the thread is still alive (so it
    // never touches a thread that has destroyed itself); then waits for the thread's end.
    void stop_capture(const std::function<void()>& ask_to_stop);
    void stop_writer(const std::function<void()>& ask_to_stop);

    // GUI thread: the notice of a new picture has arrived; the next new picture is told again.
    void picture_noticed();
    // The latest picture; nothing before the first frame.
    std::optional<shown_frame> latest_picture() const;
    std::optional<TrackPosition> latest_position() const;
    int32_t received() const;
    int32_t written() const { return written_frames; }
    std::chrono::nanoseconds time_syncing() const {
        return std::chrono::nanoseconds(syncing_ns.load());
    }
    uint64_t sync_count() const { return syncs_done.load(); }
    // The most picture bytes that waited for the writer at once.
    std::size_t queue_peak_bytes() const;
    camera_progress progress() const;

private:
    void wait_until_ended(std::recursive_mutex& guard, const bool& running);

    observer* const watcher;

    mutable std::mutex display_lock;
    media::video_frame display_frame; // guarded by display_lock
    TrackPosition display_position;   // guarded by display_lock
    uint64_t display_serial = 0;      // guarded by display_lock
    int32_t frames_received = 0;      // guarded by display_lock
    bool picture_notice_out = false;  // guarded by display_lock
    camera_progress live_progress;    // guarded by display_lock (not `written`, not the floor)

    mutable std::mutex queue_lock;
    std::deque<frame_item> frame_queue;           // guarded by queue_lock
    queue_budget frame_budget{frame_queue_limit}; // guarded by queue_lock
    // 1: frames were queued; 0: the capture thread ended. Has a lock of its own.
    wxMessageQueue<uint64_t> writer_commands;

    std::atomic<int32_t> written_frames{0};
    std::atomic<bool> recording_stopped{false};
    std::atomic<int64_t> syncing_ns{0};
    std::atomic<uint64_t> syncs_done{0};

    std::mutex rows_lock;
    std::vector<journal_row> rows; // guarded by rows_lock

    std::recursive_mutex capture_guard;
    std::recursive_mutex writer_guard;
    std::condition_variable_any thread_ended;
    bool capture_running = true; // guarded by capture_guard
    bool writer_running = true;  // guarded by writer_guard
};
