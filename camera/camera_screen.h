#pragma once
// The pane that shows one camera. It owns the camera's capture and writer threads and their
// camera_feed, shows the feed's latest picture with an optional subtitle line, writes the rows
// the threads send to the journal and journals the frame counts when it is closed. It draws
// only in its paint handler: a new picture asks for a repaint, and an uncovered pane repaints
// from the picture it keeps.

#include "camera/camera_feed.h"
#include "camera/camera_progress.h"
#include "camera/live_picture.h"
#include "camera/subtitle_burner.h"
#include "position/track_position.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <wx/config.h>
#include <wx/panel.h>

class camera_thread;
class wxGraphicsContext;
class coord_client;
class writer_thread;

class camera_screen : public wxPanel, private camera_feed::observer {
public:
    // GUI thread. Creates the trip folder and starts both threads; the capture thread opens the
    // camera's stream, so the pane never waits for the camera. `config` is read here only.
    camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                  const wxString& camera_name);
    // Stops the capture thread, then the writer thread (which writes what is queued), then
    // journals the counts of frames received and written.
    ~camera_screen() override;

    int32_t received_count() const { return feed.received(); }
    int32_t written_count() const { return feed.written(); }
    // How long the writer has spent forcing files to the disk, and how often; any thread.
    std::chrono::nanoseconds time_syncing() const { return feed.time_syncing(); }
    uint64_t sync_count() const { return feed.sync_count(); }
    // The most picture bytes that waited for the writer at once.
    std::size_t queue_peak_bytes() const { return feed.queue_peak_bytes(); }
    // Pictures converted for the pane: none while nobody can see it.
    int32_t painted_count() const { return pictures_converted; }
    // What a mark records: the position of the latest frame (nothing before the first one),
    // the subtitle template and the trip folder.
    std::optional<TrackPosition> displayed_position() const { return feed.latest_position(); }
    const wxString& subtitle_format() const { return format_subs; }
    const wxString& trip_folder() const { return trip_path; }
    // GUI thread: what the status line tells of this camera.
    camera_progress progress() const { return feed.progress(); }

    // GUI thread: called with the trip folder once the pane has closed and its writer has
    // saved everything, so that whoever keeps the recordings can take the trip in.
    void when_trip_finished(std::function<void(const wxString& trip_folder)> handler) {
        trip_finished = std::move(handler);
    }

private:
    // Worker threads: each only queues an event to this pane.
    void picture_ready() override;
    void rows_ready() override;

    void read_subtitle_settings(const wxConfigBase& config);
    subtitle_style writer_subtitles() const;
    void start_threads(coord_client* coord, const wxConfigBase& config,
                       const wxString& camera_name);
    void stop_threads();

    void on_frame(wxThreadEvent& event);
    void on_rows(wxThreadEvent& event);
    void on_paint(wxPaintEvent& event);
    void write_posted_rows();
    // Brings `painted` up to the latest picture at the pane's size; false before the first.
    bool convert_latest(const wxSize& size);
    void draw_subtitle(wxGraphicsContext& context, const wxSize& size);
    bool can_be_seen() const;

    camera_feed feed;
    // Set at construction; each thread deletes itself and tells the feed as it ends.
    camera_thread* capture_worker = nullptr;
    writer_thread* writer_worker = nullptr;

    // Subtitle settings, set once at construction; the writer thread has its own copy.
    bool show_subs = true;
    bool hard_subs = true;
    wxString format_subs;
    wxString subs_font_description;
    wxColour subs_color;
    wxFont subs_font;
    int subs_position = 0;
    // The picture shown, at the pane's size, with its position: an uncovered pane repaints it
    // without converting again. GUI thread only.
    live_picture painted;
    TrackPosition painted_position;
    uint64_t painted_serial = 0;
    int32_t pictures_converted = 0;

    wxString trip_path;
    std::function<void(const wxString& trip_folder)> trip_finished;
    int64_t start_time = 0;
    int64_t end_time = 0;
};
