#include "recording/video_file_writer_basic.h"

#include "platform/text.h"
#include "recording/trip_folder.h"
#include "trip_format/trip_files.h"

bool video_file_writer_basic::open_trip(wxFileName& target, FrameIndex& index,
                                        const wxString& write_path, const wxString& camera_name) {
    const bool made = make_trip_folder(target, write_path, camera_name, wxDateTime::Now());
    if (made)
        ask_row(false, wxString::Format(wxString::FromUTF8("Запись: %s"), target.GetPathWithSep()));
    else
        ask_row(true, trip_folder_failed_row(target.GetPath()));
    target.SetFullName(trip_files::index);
    index.set_path(target.GetFullPath());
    return made;
}

std::vector<writer_row> video_file_writer_basic::take_rows() {
    std::vector<writer_row> taken;
    taken.swap(rows);
    return taken;
}

void video_file_writer_basic::set_failure(const wxString& text) {
    last_failure = text;
    if (!failing)
        rows.push_back({true, text});
    failing = true;
    failed_at = clock::now();
}

void video_file_writer_basic::note_written(const wxString& file) {
    if (failing)
        rows.push_back(
            {false, wxString::Format(wxString::FromUTF8("Запись возобновлена [%s]"), file)});
    failing = false;
}

bool video_file_writer_basic::may_try() const {
    return !failing || clock::now() - failed_at >= retry_interval;
}

void video_file_writer_basic::note_index_state(const FrameIndex& index) {
    if (index.failing() && !index_failing)
        rows.push_back(
            {true, wxString::Format(wxString::FromUTF8("Не удается сохранить индекс [%s]"),
                                    index.file_path())});
    index_failing = index.failing();
}

std::size_t video_file_writer_basic::stop_writing(const wxString& reason) {
    const std::size_t done = finish_current_file();
    set_failure(reason);
    return done;
}

void video_file_writer_basic::resume_writing() {
    failed_at = clock::time_point();
}

void video_file_writer_basic::mark_trip() {
    auto made =
        std::make_unique<trip_format::trip_write_mark>(platform::native_path(trip_folder()));
    if (made->held())
        mark = std::move(made);
}

void video_file_writer_basic::keep_durable() {
    const auto started = clock::now();
    if (started - last_sync < sync_interval)
        return;
    make_durable();
    // Counted from the start of this sync, so the time a sync takes does not stretch the pace.
    last_sync = started;
    sync_time += clock::now() - started;
    ++sync_count;
}

void video_file_writer_basic::end_trip(bool cleanly) {
    if (mark && cleanly)
        mark->finish();
    mark.reset();
}
