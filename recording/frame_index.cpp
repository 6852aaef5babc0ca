#include "recording/frame_index.h"

#include "platform/text.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"

#include <memory>
#include <string>
#include <vector>
#include <wx/stream.h>

struct FrameIndex::laid_out {
    std::string document;
    size_t head = 0;                 // bytes up to the first record
    std::vector<size_t> record_ends; // offsets just past each record's line
    size_t closing = 0;              // bytes of the closing tag at the document's end
};

namespace {

// The XML writer's output straight into a string. wxMemoryOutputStream grows its buffer by
// exactly each small write, which copies the whole document again and again where realloc
// cannot grow in place.
class string_output_stream : public wxOutputStream {
public:
    explicit string_output_stream(std::string& text) : text(text) {}

private:
    size_t OnSysWrite(const void* buffer, size_t size) override {
        text.append(static_cast<const char*>(buffer), size);
        return size;
    }

    std::string& text;
};

} // namespace

FrameIndex::FrameIndex() : root(new wxXmlNode(wxXML_ELEMENT_NODE, "section")) {
    // The document owns the root from here on.
    unsaved.SetRoot(root);
}

FrameIndex::~FrameIndex() {
    close();
}

void FrameIndex::set_path(const wxString& index_path) {
    path = index_path;
    file.emplace(platform::native_path(path));
    route.set_path(platform::native_path(path).parent_path() / trip_files::route);
}

bool FrameIndex::add(const wxString& file_name, uint64_t frame_in_file,
                     const TrackPosition& position) {
    auto* frame = new wxXmlNode(wxXML_ELEMENT_NODE, "frame");
    frame->AddAttribute("file", file_name);
    frame->AddAttribute("frame_in_file",
                        wxString::Format("%llu", static_cast<unsigned long long>(frame_in_file)));
    frame->AddAttribute("frame", wxString::Format("%d", position.frame));
    frame->AddAttribute("abscoord", wxString::FromUTF8(six_decimals(position.abs)));
    frame->AddAttribute("km", wxString::Format("%d", position.km));
    frame->AddAttribute("m", wxString::FromUTF8(six_decimals(position.m)));
    frame->AddAttribute("time", wxString::FromUTF8(record_time_text(position.time)));
    // The root takes ownership.
    root->InsertChildAfter(frame, last_frame);
    route.note(position);
    last_frame = frame;
    ++unsaved_count;
    ++frame_count;
    if (!told_only && (held_back || clock::now() - last_save >= save_interval))
        return save();
    return true;
}

bool FrameIndex::save() {
    return write_records(false);
}

bool FrameIndex::close() {
    route.flush();
    if (unsaved_count == 0 && file && file->created())
        return true;
    return write_records(true);
}

bool FrameIndex::write_records(bool every_record) {
    last_save = clock::now();
    // Route lines a failing disk held back go with the next save of the index.
    route.flush();
    if (!file)
        return false;
    const laid_out text = lay_out();
    size_t records = text.record_ends.size();
    const auto size_with = [&](size_t count) {
        const uint64_t children = count == 0 ? 0 : text.record_ends[count - 1] - text.head;
        return file->created() ? file->size() + children : text.head + children + text.closing;
    };
    // A record is left for later rather than end the file where the next save could not
    // append in place; the last save of the trip has no next one.
    if (!every_record && records > 0 && file->awkward_size(size_with(records), text.closing))
        --records;
    held_back = records < text.record_ends.size();
    if (records == 0 && (file->created() || !every_record))
        return true;

    bool written = false;
    if (!file->created()) {
        const std::string_view document(text.document);
        written =
            records == text.record_ends.size()
                ? file->create(document, text.closing)
                : file->create(std::string(document.substr(0, text.record_ends[records - 1])) +
                                   std::string(document.substr(document.size() - text.closing)),
                               text.closing);
    } else {
        written = file->append(std::string_view(text.document)
                                   .substr(text.head, text.record_ends[records - 1] - text.head));
    }
    save_failed = !written;
    if (written)
        forget_saved(records);
    return written;
}

FrameIndex::laid_out FrameIndex::lay_out() const {
    laid_out text;
    {
        string_output_stream stream(text.document);
        unsaved.Save(stream, 2);
    }
    if (unsaved_count == 0) {
        // "<section/>": nothing to split, nothing can follow.
        text.head = text.document.size();
        return text;
    }
    // The writer puts every element on a line of its own and escapes line ends inside
    // attribute values: the lines after the root's opening tag are the records.
    const std::string closing_tag = "</section>\n";
    text.closing = closing_tag.size();
    text.head = text.document.find("<section>\n") + std::string("<section>\n").size();
    const size_t records_end = text.document.size() - text.closing;
    for (size_t at = text.head; at < records_end;) {
        at = text.document.find('\n', at) + 1;
        text.record_ends.push_back(at);
    }
    return text;
}

void FrameIndex::forget_saved(size_t records) {
    for (size_t i = 0; i < records; ++i) {
        wxXmlNode* const first = root->GetChildren();
        root->RemoveChild(first);
        const std::unique_ptr<wxXmlNode> saved(first);
        if (saved.get() == last_frame)
            last_frame = nullptr;
    }
    unsaved_count -= records;
}
