#pragma once
// A recorded H.264 stream served again as a live camera: the file is split into access units
// once at start-up, and the units are pushed in a loop at the frame rate, each stamped with the
// moment its turn came on the pipeline's clock, so time runs on evenly across the loop as a
// camera's does. Nothing is encoded, so a 1080p camera costs next to nothing.

#include <cstdint>
#include <gst/gst.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class stream_replay {
public:
    // Reads an H.264 elementary stream (Annex B byte stream) and starts at its first key frame.
    // Throws std::runtime_error naming the file when it cannot be read or holds no key frame.
    stream_replay(const std::string& file, int fps);
    ~stream_replay();
    stream_replay(const stream_replay&) = delete;
    stream_replay& operator=(const stream_replay&) = delete;

    // The launch-line element that the units are pushed into.
    static const char* source_name() { return "stream_replay"; }
    // The source of a newly made media; it is sent the stream from its first key frame on.
    void attach(GstElement* source);

    std::size_t unit_count() const { return units.size(); }
    int width() const { return picture_width; }
    int height() const { return picture_height; }

private:
    struct buffer_unref {
        void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
    };
    struct caps_unref {
        void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
    };

    void read_units(const std::string& file);
    static gboolean on_tick(gpointer self);
    void push_due_units();
    void skip_to(int64_t due);
    // The pipeline's running time now; nothing before the pipeline runs.
    std::optional<GstClockTime> running_time() const;
    bool consumer_is_behind() const;
    void push(GstBuffer* unit, GstClockTime stamp);

    int fps;
    // Without time stamps: the source stamps what it sends.
    std::vector<std::unique_ptr<GstBuffer, buffer_unref>> units;
    std::unique_ptr<GstCaps, caps_unref> caps;
    int picture_width = 0;
    int picture_height = 0;
    GstElement* source = nullptr;
    guint timer = 0;
    gint64 started = 0;
    int64_t sent = 0;      // turns come so far, each a unit sent or skipped
    std::size_t next = 0;  // the next unit of the loop
    bool want_key = false; // after a skip only a key frame can follow
};
