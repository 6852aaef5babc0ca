#include "archive/trip_repair.h"

#include "archive/trip_catalogue.h"
#include "archive/trip_index.h"
#include "media/avi_repair.h"
#include "platform/durable_file.h"
#include "trip_format/csv_line.h"
#include "trip_format/trip_files.h"
#include "trip_format/trip_write_mark.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

namespace archive {

namespace {

namespace fs = std::filesystem;

// What one record of data.idx says, as the file has it.
struct record_text {
    std::string file;
    std::string frame_in_file;
    std::string frame;
    std::string abs;
    std::string km;
    std::string m;
    std::string time;
};

bool is_video(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".avi") == 0;
}

std::string utf8_name(const fs::path& path) {
    return path.filename().u8string();
}

// The video files of the trip in the order they were written: those the index names first, in
// its order, then those it does not name yet, oldest first.
std::vector<std::string> videos_in_order(const fs::path& folder, const trip_index& index) {
    std::vector<std::string> ordered;
    for (const std::string& name : index.files())
        if (is_video(name) && fs::is_regular_file(folder / fs::u8path(name)))
            ordered.push_back(name);
    std::vector<std::pair<fs::file_time_type, std::string>> unnamed;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = utf8_name(entry.path());
        if (entry.is_regular_file(error) && is_video(name) &&
            std::find(ordered.begin(), ordered.end(), name) == ordered.end())
            unnamed.emplace_back(entry.last_write_time(error), name);
    }
    std::sort(unnamed.begin(), unnamed.end());
    for (const auto& file : unnamed)
        ordered.push_back(file.second);
    return ordered;
}

record_text text_of(const trip_index& index, const index_record& record) {
    return {index.file_of(record), record.frame_in_file_text,
            record.frame_text,     record.abs_text,
            record.km_text,        record.m_text,
            record.time_text};
}

// A frame on the disk that no record lists: the place and time last known before it.
record_text unlisted_frame(const std::string& file, std::size_t place, const record_text* before) {
    record_text text = before ? *before : record_text{"", "", "0", "0.000000", "0", "0.000000", ""};
    text.file = file;
    text.frame_in_file = std::to_string(place);
    return text;
}

// data.idx laid out as the recorder's index writer lays it out.
std::string index_document(const std::vector<record_text>& records) {
    wxXmlDocument document;
    auto* root = new wxXmlNode(wxXML_ELEMENT_NODE, "section");
    document.SetRoot(root);
    wxXmlNode* last = nullptr;
    for (const record_text& record : records) {
        auto* frame = new wxXmlNode(wxXML_ELEMENT_NODE, "frame");
        frame->AddAttribute("file", wxString::FromUTF8(record.file));
        frame->AddAttribute("frame_in_file", wxString::FromUTF8(record.frame_in_file));
        frame->AddAttribute("frame", wxString::FromUTF8(record.frame));
        frame->AddAttribute("abscoord", wxString::FromUTF8(record.abs));
        frame->AddAttribute("km", wxString::FromUTF8(record.km));
        frame->AddAttribute("m", wxString::FromUTF8(record.m));
        frame->AddAttribute("time", wxString::FromUTF8(record.time));
        root->InsertChildAfter(frame, last);
        last = frame;
    }
    wxMemoryOutputStream stream;
    document.Save(stream, 2);
    std::string bytes(stream.GetLength(), '\0');
    stream.CopyTo(bytes.data(), bytes.size());
    return bytes;
}

long long number_or(const std::string& text, long long otherwise) {
    try {
        return std::stoll(text);
    } catch (const std::exception&) {
        return otherwise;
    }
}

// route.csv without the lines past the last frame the index lists, nor a line cut short.
void trim_route(const fs::path& folder, long long last_frame) {
    const fs::path path = folder / trip_files::route;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    std::string kept;
    std::size_t at = 0;
    bool header = true;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break; // the last line was cut short
        const std::string line = text.substr(at, end - at + 1);
        at = end + 1;
        if (!header) {
            const auto fields = csv_line::split(line.substr(0, line.size() - 1));
            if (fields.empty() || number_or(fields[0], last_frame + 1) > last_frame)
                continue;
        }
        header = false;
        kept += line;
    }
    if (kept != text)
        platform::replace_file(path, kept);
}

// The index records that name files other than videos: stills, each whole or missing.
bool still_is_there(const fs::path& folder, const std::string& file) {
    std::error_code error;
    const auto size = fs::file_size(folder / fs::u8path(file), error);
    return !error && size > 0;
}

} // namespace

std::string trip_repair_report::row() const {
    const std::string name = folder.filename().u8string();
    std::ostringstream text;
    if (!complete()) {
        text << (no_room ? "Поездка после обрыва записи оставлена как есть: нет места на диске для "
                           "восстановления ["
                         : "Поездку после обрыва записи не удалось восстановить полностью [")
             << name << "]: кадров " << frames << ", файлов не закрыто " << files_left;
        if (!index_saved)
            text << ", индекс не сохранен";
        return text.str();
    }
    text << "Поездка восстановлена после обрыва записи [" << name << "]: кадров " << frames
         << ", файлов закрыто " << files_finished;
    if (records_dropped > 0)
        text << ", убрано записей индекса " << records_dropped;
    if (records_added > 0)
        text << ", добавлено записей индекса " << records_added;
    if (files_removed > 0)
        text << ", удалено файлов без кадров " << files_removed;
    if (files_set_aside > 0)
        text << ", нечитаемых файлов отложено (.damaged) " << files_set_aside;
    if (!catalogue_problem.empty())
        text << "; каталог поездок не обновлен: " << catalogue_problem;
    return text.str();
}

trip_repair_report repair_trip(const fs::path& trip_folder, const keep_going& go_on) {
    trip_repair_report report;
    const auto mark = trip_format::trip_write_mark::take_over(trip_folder);
    if (!mark)
        return report;
    report.folder = trip_folder;

    const trip_index index = trip_index::read(trip_folder / trip_files::index);
    std::map<std::string, std::size_t> frames_held;
    for (const std::string& name : videos_in_order(trip_folder, index)) {
        if (go_on && !go_on()) {
            report.files_left += 1;
            report.index_saved = false;
            return report;
        }
        const media::avi_repair_result result =
            media::repair_avi(trip_folder / fs::u8path(name), go_on);
        frames_held[name] = result.frames;
        using outcome = media::avi_repair_result::outcome;
        report.files_finished += result.what == outcome::rewritten ? 1 : 0;
        report.files_removed += result.what == outcome::no_frames ? 1 : 0;
        report.files_set_aside += result.what == outcome::set_aside ? 1 : 0;
        report.files_left +=
            result.what == outcome::no_room || result.what == outcome::failed ? 1 : 0;
        report.no_room = report.no_room || result.what == outcome::no_room;
    }

    // Each file's records up to the frames it holds, then a record for each frame it holds
    // beyond them, right after its last one.
    std::vector<record_text> kept;
    std::map<std::string, std::size_t> listed;
    const auto add_unlisted = [&](const std::string& file) {
        const std::size_t held = frames_held[file];
        for (std::size_t place = listed[file]; place < held; ++place) {
            kept.push_back(unlisted_frame(file, place, kept.empty() ? nullptr : &kept.back()));
            ++report.records_added;
        }
        listed[file] = held;
    };
    const auto& records = index.records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const index_record& record = records[i];
        const std::string& file = index.file_of(record);
        const bool whole =
            is_video(file)
                ? record.frame_in_file >= 0 &&
                      static_cast<std::size_t>(record.frame_in_file) < frames_held[file] &&
                      static_cast<std::size_t>(record.frame_in_file) == listed[file]
                : still_is_there(trip_folder, file);
        if (!whole) {
            ++report.records_dropped;
            continue;
        }
        kept.push_back(text_of(index, record));
        if (is_video(file)) {
            ++listed[file];
            const bool last_of_file =
                i + 1 == records.size() || index.file_of(records[i + 1]) != file;
            if (last_of_file)
                add_unlisted(file);
        }
    }
    for (const auto& [file, held] : frames_held)
        if (listed.count(file) == 0 && held > 0)
            add_unlisted(file);
    report.frames = kept.size();

    const bool changed = report.records_dropped > 0 || report.records_added > 0 ||
                         index.missing() || !index.problem().empty();
    if (changed)
        report.index_saved =
            platform::replace_file(trip_folder / trip_files::index, index_document(kept));
    if (report.index_saved) {
        trim_route(trip_folder, kept.empty() ? -1 : number_or(kept.back().frame, 0));
        if (report.complete())
            mark->finish();
    }
    // The trip is whole on the disk either way; a catalogue that cannot take it now catches up at
    // its next sync.
    try {
        trip_catalogue(trip_folder.parent_path()).add_trip(trip_folder);
    } catch (const std::exception& failure) {
        report.catalogue_problem = failure.what();
    }
    return report;
}

std::vector<trip_repair_report>
repair_cut_trips(const fs::path& write_path, const keep_going& go_on,
                 const std::function<void(const trip_repair_report&)>& on_report) {
    std::vector<fs::path> cut;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(write_path, error))
        if (entry.is_directory(error) &&
            trip_format::state_of_trip(entry.path()) == trip_format::trip_state::cut)
            cut.push_back(entry.path());
    // Trip folders are named by their start: in name order, oldest first.
    std::sort(cut.begin(), cut.end());
    std::vector<trip_repair_report> reports;
    for (const fs::path& folder : cut) {
        if (go_on && !go_on())
            break;
        trip_repair_report report = repair_trip(folder, go_on);
        if (report.folder.empty())
            continue;
        if (on_report)
            on_report(report);
        reports.push_back(std::move(report));
    }
    return reports;
}

} // namespace archive
