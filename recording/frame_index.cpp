#include "recording/frame_index.h"

#include "recording/trip_folder.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>
#include <wx/datetime.h>
#include <wx/mstream.h>

namespace {

// "%f" with six decimals and always a full stop, whatever numeric locale is in force.
wxString fixed_six(double value) {
    return wxString::FromCDouble(value, 6);
}

wxString local_time_text(int64_t time) {
    if (time == -1)
        return {};
    return wxDateTime(static_cast<time_t>(time)).Format(wxDefaultDateTimeFormat);
}

// Writes the bytes and forces them to the disk, so the rename that follows never publishes a
// file whose content is still only in memory when the power goes.
bool write_durably(const std::filesystem::path& file, const void* data, size_t size) {
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream == nullptr)
        return false;
    bool written = size == 0 || std::fwrite(data, 1, size, stream) == size;
    written = std::fflush(stream) == 0 && written;
    written = ::fsync(fileno(stream)) == 0 && written;
    return std::fclose(stream) == 0 && written;
}

} // namespace

FrameIndex::FrameIndex() : root(new wxXmlNode(wxXML_ELEMENT_NODE, "section")) {
    // The document owns the root from here on.
    document.SetRoot(root);
}

FrameIndex::~FrameIndex() {
    save();
}

void FrameIndex::add(const wxString& file, uint64_t frame_in_file, const TrackPosition& position) {
    auto* frame = new wxXmlNode(wxXML_ELEMENT_NODE, "frame");
    frame->AddAttribute("file", file);
    frame->AddAttribute("frame_in_file",
                        wxString::Format("%llu", static_cast<unsigned long long>(frame_in_file)));
    frame->AddAttribute("frame", wxString::Format("%d", position.frame));
    frame->AddAttribute("abscoord", fixed_six(position.abs));
    frame->AddAttribute("km", wxString::Format("%d", position.km));
    frame->AddAttribute("m", fixed_six(position.m));
    frame->AddAttribute("time", local_time_text(position.time));
    // The root takes ownership.
    root->InsertChildAfter(frame, last_frame);
    last_frame = frame;
    ++frame_count;
    if (clock::now() - last_save >= save_interval)
        save();
}

bool FrameIndex::save() {
    last_save = clock::now();
    if (path.empty())
        return false;
    wxMemoryOutputStream text;
    if (!document.Save(text, 2))
        return false;
    const std::filesystem::path index = native_path(path);
    std::filesystem::path temporary = index;
    temporary += ".tmp";
    std::vector<char> bytes(static_cast<size_t>(text.GetLength()));
    text.CopyTo(bytes.data(), bytes.size());
    if (!write_durably(temporary, bytes.data(), bytes.size())) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, index, error);
    return !error;
}
