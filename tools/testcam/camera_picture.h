#pragma once
// The "camera" picture of the test camera: a ballast-like texture that moves down the picture as
// if the car were driving, under sensor noise that changes every frame. One second of frames is
// made at start-up and played in a loop, so serving costs no more than a flat test pattern.

#include <cstdint>
#include <gst/gst.h>
#include <vector>

class camera_picture {
public:
    camera_picture(int width, int height, int fps);
    ~camera_picture();
    camera_picture(const camera_picture&) = delete;
    camera_picture& operator=(const camera_picture&) = delete;

    // The launch-line element that the pictures are pushed into.
    static const char* source_name() { return "camera_picture"; }
    // The source of a newly made media; pictures go to it from now on.
    void attach(GstElement* source);

private:
    static gboolean on_tick(gpointer self);
    void push_due_frames();

    int width;
    int height;
    int fps;
    std::vector<std::vector<uint8_t>> frames; // I420, one second's worth
    GstElement* source = nullptr;
    guint timer = 0;
    gint64 started = 0;
    int64_t pushed = 0;
};
