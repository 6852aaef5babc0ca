#pragma once
// The decisions of the camera pipeline, free of windows and threads so they can be checked on
// their own: which frames are recorded, how frames are numbered, how much may wait for the
// writer, and the journal texts.

#include "position/coord_client.h"
#include "position/track_position.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <wx/string.h>

namespace media {
enum class open_failure;
}

// Chooses the frames to record: one whenever the car has moved at least the write step since
// the last chosen frame. A step of 0 or less chooses every frame.
class write_step_selector {
public:
    explicit write_step_selector(long interval_metres) : interval(interval_metres) {}

    // True when the frame at this absolute coordinate is to be recorded.
    bool select(double abs);

private:
    double interval;
    double last_written = 0.0;
};

// Numbers a camera's frames: a frame with a fix carries the count of earlier fixed frames; a
// frame without a fix carries the number the next fixed frame will get.
class frame_numbering {
public:
    // The record of one frame from the outcome of its coordinate exchange.
    TrackPosition position_for(const exchange_result& result);

private:
    int64_t fix_count = 0;
};

// Bounds the bytes of pictures waiting for the writer. A frame that would pass the limit is
// dropped and counted; the count is handed out once the drops stop.
class queue_budget {
public:
    explicit queue_budget(std::size_t limit_bytes) : limit(limit_bytes) {}

    // True when a picture of that size may be queued; it then counts against the budget.
    bool admit(std::size_t bytes);
    // A queued picture of that size has been taken by the writer.
    void release(std::size_t bytes);
    // The number of frames dropped since the last call, once a frame has been admitted again
    // (or when `finished`); 0 while the drops go on or when nothing was dropped.
    long take_finished_drops(bool finished = false);

    std::size_t queued_bytes() const { return used; }
    // The most that was queued at once.
    std::size_t peak_bytes() const { return peak; }

private:
    std::size_t limit;
    std::size_t used = 0;
    std::size_t peak = 0;
    long dropped = 0;
    bool last_admitted = true;
};

// Whether a recording with these settings copies an H.264 camera's own packets into its files
// instead of encoding the pictures again: AVI in h264, every frame, nothing burned in.
bool copies_camera_stream(bool hard_subs, long write_interval, const wxString& write_format,
                          const wxString& codec);

// 1 GiB of pictures may wait for the writer of one camera.
constexpr std::size_t frame_queue_limit = std::size_t{1} << 30;

// The URL with the password of a user:password@ part written as "***"; for the journal only.
std::string mask_url_password(const std::string& url);

// "Камера: %s fps: %0.0f codec: %d size: %dx%d" with the masked URL.
wxString camera_opened_row(const std::string& url, double fps, double fourcc, double width,
                           double height);
// "Не удалось подключить камеру: %s" with the masked URL.
wxString camera_failed_row(const std::string& url);
// The row after camera_failed_row: why, in words ("Причина: ..."). `detail` is FFmpeg's own text
// for a failure it names no other way; `timeout_seconds` is how long the camera had to answer.
wxString camera_failure_reason_row(media::open_failure reason, const std::string& detail,
                                   int timeout_seconds);
// "Потеряна связь с камерой: %s" with the masked URL.
wxString camera_lost_row(const std::string& url);
// "Сервер координат: %s:%s": the coordinate server is connected (again).
wxString coordinate_server_row(const wxString& address, const wxString& port);
// The row that ends an overflow episode of the frame queue.
wxString frames_dropped_row(long frames);
// "Принято %d кадров за %d c, [%d fps]"; a screen closed within its first second reports 0 fps.
wxString frames_received_row(int32_t frames, int32_t seconds);
// "Записано %d кадров."
wxString frames_written_row(int32_t frames);

// The top of the subtitle line: 10 pixels from the top for position 0, otherwise 10 pixels
// above the bottom of an area of that height.
int subtitle_top(int subs_position, int area_height, int text_height);
