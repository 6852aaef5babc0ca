#include "stream_replay.h"

#include <memory>
#include <stdexcept>

namespace {

struct element_unref {
    void operator()(GstElement* element) const { gst_object_unref(element); }
};
using element_ptr = std::unique_ptr<GstElement, element_unref>;

// A pipeline is stopped before it is freed, whatever state it reached.
struct pipeline_unref {
    void operator()(GstElement* pipeline) const {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using pipeline_ptr = std::unique_ptr<GstElement, pipeline_unref>;

struct bus_unref {
    void operator()(GstBus* bus) const { gst_object_unref(bus); }
};
using bus_ptr = std::unique_ptr<GstBus, bus_unref>;

struct sample_unref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
using sample_ptr = std::unique_ptr<GstSample, sample_unref>;

// The pipeline that cuts the file into access units, stopped and freed when it goes.
class unit_reader {
public:
    explicit unit_reader(const std::string& file) {
        GError* error = nullptr;
        pipeline.reset(gst_parse_launch(
            "filesrc name=file ! h264parse ! "
            "video/x-h264,stream-format=byte-stream,alignment=au ! appsink name=units sync=false",
            &error));
        if (!pipeline) {
            const std::string message = error != nullptr ? error->message : "no pipeline";
            g_clear_error(&error);
            throw std::runtime_error(message);
        }
        element_ptr source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "file"));
        g_object_set(source.get(), "location", file.c_str(), nullptr);
        sink.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "units"));
        bus.reset(gst_element_get_bus(pipeline.get()));
        if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            throw std::runtime_error(error_text("cannot be read"));
    }
    unit_reader(const unit_reader&) = delete;
    unit_reader& operator=(const unit_reader&) = delete;

    // The next access unit; empty at the end of the file. Throws when the file turns out not to
    // be H.264 (the parser stops with an error rather than reaching the end).
    sample_ptr next() {
        for (;;) {
            GstSample* sample = nullptr;
            g_signal_emit_by_name(sink.get(), "try-pull-sample", GST_SECOND / 10, &sample);
            if (sample != nullptr)
                return sample_ptr(sample);
            gboolean ended = FALSE;
            g_object_get(sink.get(), "eos", &ended, nullptr);
            if (ended)
                return nullptr;
            if (GstMessage* failure = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) {
                gst_message_unref(failure);
                throw std::runtime_error(error_text("is not an H.264 stream"));
            }
        }
    }

private:
    // The parser's own words when it gave any, else `fallback`.
    std::string error_text(const std::string& fallback) {
        GstMessage* failure = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR);
        if (failure == nullptr)
            return fallback;
        GError* error = nullptr;
        gst_message_parse_error(failure, &error, nullptr);
        const std::string text = fallback + " (" + error->message + ")";
        g_clear_error(&error);
        gst_message_unref(failure);
        return text;
    }

    // Declared first, so the elements below are let go before the pipeline is stopped.
    pipeline_ptr pipeline;
    element_ptr sink;
    bus_ptr bus;
};

bool is_key_unit(const GstBuffer* unit) {
    return !GST_BUFFER_FLAG_IS_SET(unit, GST_BUFFER_FLAG_DELTA_UNIT);
}

} // namespace

stream_replay::stream_replay(const std::string& file, int fps) : fps(fps) {
    try {
        read_units(file);
    } catch (const std::exception& failure) {
        throw std::runtime_error(file + ": " + failure.what());
    }
    if (units.empty())
        throw std::runtime_error(file + ": no H.264 key frame, nothing a decoder could start from");
}

stream_replay::~stream_replay() {
    if (timer != 0)
        g_source_remove(timer);
    if (source != nullptr)
        gst_object_unref(source);
}

void stream_replay::read_units(const std::string& file) {
    unit_reader reader(file);
    while (sample_ptr sample = reader.next()) {
        GstBuffer* unit = gst_sample_get_buffer(sample.get());
        // A decoder joining the loop needs a key frame first; what comes before it is dropped.
        if (unit == nullptr || (units.empty() && !is_key_unit(unit)))
            continue;
        if (!caps) {
            caps.reset(gst_caps_copy(gst_sample_get_caps(sample.get())));
            gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
            const GstStructure* format = gst_caps_get_structure(caps.get(), 0);
            gst_structure_get_int(format, "width", &picture_width);
            gst_structure_get_int(format, "height", &picture_height);
        }
        // The bytes only, shared with the parser's buffer, and whether the unit is a key frame.
        // Whatever else the parser noted about the file (no time stamps, a discontinuity at its
        // start) would be repeated at every loop and make the stream jump back there.
        GstBuffer* copy = gst_buffer_new();
        gst_buffer_copy_into(copy, unit, GST_BUFFER_COPY_MEMORY, 0, -1);
        if (!is_key_unit(unit))
            GST_BUFFER_FLAG_SET(copy, GST_BUFFER_FLAG_DELTA_UNIT);
        units.emplace_back(copy);
    }
}

void stream_replay::attach(GstElement* new_source) {
    if (source != nullptr)
        gst_object_unref(source);
    source = GST_ELEMENT(gst_object_ref(new_source));
    g_object_set(source, "caps", caps.get(), nullptr);
    started = g_get_monotonic_time();
    sent = 0;
    next = 0;
    want_key = false;
    if (timer == 0)
        timer = g_timeout_add(5, &stream_replay::on_tick, this);
}

gboolean stream_replay::on_tick(gpointer self) {
    static_cast<stream_replay*>(self)->push_due_units();
    return G_SOURCE_CONTINUE;
}

void stream_replay::push_due_units() {
    if (source == nullptr)
        return;
    // Paced by the clock rather than by the timer, which runs late now and then.
    const gint64 now = g_get_monotonic_time();
    const int64_t due = (now - started) * fps / 1000000 + 1;
    // Held up for more than a second (the process was stopped): a camera would not send the
    // pictures it never took, so the loop goes on from where the clock is.
    if (due - sent > fps)
        skip_to(due - 1);
    const std::optional<GstClockTime> running = running_time();
    for (; sent < due; ++sent) {
        GstBuffer* unit = units[next].get();
        next = (next + 1) % units.size();
        if (want_key && !is_key_unit(unit))
            continue;
        // Stamped with the moment its turn came, as a camera stamps the moment a picture is
        // taken: an even pace, also when this timer runs late and sends several at once.
        const GstClockTime age = static_cast<GstClockTime>(now - started) * GST_USECOND -
                                 static_cast<GstClockTime>(sent) * GST_SECOND / fps;
        // Nobody takes the stream yet (the pipeline is not running, or does not take what it is
        // sent): the unit is dropped rather than heaped up, and sending starts again at a key
        // frame.
        if (!running || *running < age || consumer_is_behind()) {
            want_key = true;
            continue;
        }
        want_key = false;
        push(unit, *running - age);
    }
}

void stream_replay::push(GstBuffer* unit, GstClockTime stamp) {
    // A buffer of its own for every sending, sharing the bytes: the stamp must not stay on the
    // unit for the next loop.
    GstBuffer* sending = gst_buffer_new();
    gst_buffer_copy_into(
        sending, unit,
        static_cast<GstBufferCopyFlags>(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_MEMORY), 0, -1);
    GST_BUFFER_PTS(sending) = stamp;
    GST_BUFFER_DTS(sending) = stamp;
    GST_BUFFER_DURATION(sending) = GST_SECOND / fps;
    GstFlowReturn result = GST_FLOW_OK;
    g_signal_emit_by_name(source, "push-buffer", sending, &result);
    gst_buffer_unref(sending);
}

void stream_replay::skip_to(int64_t due) {
    next = (next + static_cast<std::size_t>(due - sent)) % units.size();
    sent = due;
    want_key = true;
}

std::optional<GstClockTime> stream_replay::running_time() const {
    GstClock* clock = gst_element_get_clock(source);
    if (clock == nullptr)
        return std::nullopt;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(source);
    if (now < base)
        return std::nullopt;
    return now - base;
}

bool stream_replay::consumer_is_behind() const {
    guint64 queued = 0;
    g_object_get(source, "current-level-buffers", &queued, nullptr);
    return queued >= static_cast<guint64>(fps);
}
