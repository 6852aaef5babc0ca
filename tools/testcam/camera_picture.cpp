#include "camera_picture.h"

#include <algorithm>
#include <cmath>

namespace {

// A fast generator is enough for noise; the same seed gives the same pictures every run.
class noise {
public:
    explicit noise(uint32_t seed) : state(seed | 1u) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Roughly normal, standard deviation about `sigma`: the sum of four uniform values.
    int gaussian(int sigma) {
        const uint32_t bits = next();
        const int sum = static_cast<int>((bits & 0xff) + (bits >> 8 & 0xff) + (bits >> 16 & 0xff) +
                                         (bits >> 24 & 0xff)) -
                        510;
        return sum * sigma / 148;
    }

private:
    uint32_t state;
};

uint8_t clamp_level(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// Stones of about 8 pixels with fine grain: a texture with detail at every scale an encoder
// looks at.
std::vector<int16_t> ballast(int width, int height) {
    constexpr int cell = 8;
    const int columns = width / cell + 2;
    const int rows = height / cell + 2;
    noise random(7);
    std::vector<int> coarse(static_cast<std::size_t>(columns * rows));
    for (int& value : coarse)
        value = static_cast<int>(random.next() % 81) - 40;
    std::vector<int16_t> texture(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int cx = x / cell;
            const int cy = y / cell;
            const int fx = x % cell;
            const int fy = y % cell;
            const auto at = [&](int column, int row) { return coarse[row * columns + column]; };
            const int top = at(cx, cy) * (cell - fx) + at(cx + 1, cy) * fx;
            const int bottom = at(cx, cy + 1) * (cell - fx) + at(cx + 1, cy + 1) * fx;
            const int smooth = (top * (cell - fy) + bottom * fy) / (cell * cell);
            texture[static_cast<std::size_t>(y) * width + x] =
                static_cast<int16_t>(smooth + random.gaussian(10));
        }
    return texture;
}

} // namespace

camera_picture::camera_picture(int width, int height, int fps)
    : width(width), height(height), fps(fps) {
    const std::vector<int16_t> texture = ballast(width, height);
    // About a tenth of the picture a second: a car at walking pace seen close up.
    const int step = std::max(1, height / 10 / fps);
    const int chroma_width = (width + 1) / 2;
    const int chroma_height = (height + 1) / 2;
    noise random(11);
    for (int index = 0; index < fps; ++index) {
        std::vector<uint8_t> frame(static_cast<std::size_t>(width) * height +
                                   2 * static_cast<std::size_t>(chroma_width) * chroma_height);
        uint8_t* luma = frame.data();
        for (int y = 0; y < height; ++y) {
            // Brighter towards the horizon at the top.
            const int base = 150 - 70 * y / height;
            const int16_t* row =
                &texture[static_cast<std::size_t>((y + height - (index * step) % height) % height) *
                         width];
            for (int x = 0; x < width; ++x)
                luma[static_cast<std::size_t>(y) * width + x] =
                    clamp_level(base + row[x] + random.gaussian(6));
        }
        uint8_t* chroma = luma + static_cast<std::size_t>(width) * height;
        for (int plane = 0; plane < 2; ++plane)
            for (int i = 0; i < chroma_width * chroma_height; ++i)
                *chroma++ = clamp_level((plane == 0 ? 122 : 134) + random.gaussian(3));
        frames.push_back(std::move(frame));
    }
}

camera_picture::~camera_picture() {
    if (timer != 0)
        g_source_remove(timer);
    if (source != nullptr)
        gst_object_unref(source);
}

void camera_picture::attach(GstElement* new_source) {
    if (source != nullptr)
        gst_object_unref(source);
    source = GST_ELEMENT(gst_object_ref(new_source));
    started = g_get_monotonic_time();
    pushed = 0;
    if (timer == 0)
        timer = g_timeout_add(5, &camera_picture::on_tick, this);
}

gboolean camera_picture::on_tick(gpointer self) {
    static_cast<camera_picture*>(self)->push_due_frames();
    return G_SOURCE_CONTINUE;
}

void camera_picture::push_due_frames() {
    // Paced by the clock rather than by the timer, which runs late now and then.
    const int64_t due = (g_get_monotonic_time() - started) * fps / 1000000 + 1;
    while (source != nullptr && pushed < due) {
        std::vector<uint8_t>& frame = frames[static_cast<std::size_t>(pushed % fps)];
        GstBuffer* buffer =
            gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, frame.data(), frame.size(), 0,
                                        frame.size(), nullptr, nullptr);
        GstFlowReturn result = GST_FLOW_OK;
        g_signal_emit_by_name(source, "push-buffer", buffer, &result);
        gst_buffer_unref(buffer);
        ++pushed;
    }
}
