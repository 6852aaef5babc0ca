#include "review/trip_picture_panel.h"

#include "platform/text.h"
#include "review/frame_view.h"

#include <wx/datetime.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

using platform::utf8;

trip_picture_panel::trip_picture_panel(wxWindow* parent, const wxString& format_subs)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      format_subs(format_subs) {
    caption_line = new wxStaticText(this, wxID_ANY, wxString());
    view = new frame_view(this);
    subtitle_line = new wxStaticText(this, wxID_ANY, wxString());
    note_line = new wxStaticText(this, wxID_ANY, wxString());
    note_line->SetForegroundColour(*wxRED);

    auto* const sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(caption_line, 0, wxEXPAND | wxBOTTOM, 2);
    sizer->Add(view, 1, wxEXPAND);
    sizer->Add(subtitle_line, 0, wxEXPAND | wxTOP, 2);
    sizer->Add(note_line, 0, wxEXPAND | wxTOP, 2);
    SetSizer(sizer);
}

void trip_picture_panel::set_trip(std::shared_ptr<const loaded_trip> trip) {
    shown_trip = std::move(trip);
    frames = std::make_unique<trip_frame_source>(shown_trip->folder);
    current.reset();
    subtitle_line->SetLabel(wxString());
    caption_line->SetLabel(caption_of(0));
    if (shown_trip->index.empty()) {
        show_note(wxString::FromUTF8("В поездке нет записанных кадров"));
        return;
    }
    show_record(0);
}

void trip_picture_panel::clear() {
    shown_trip.reset();
    frames.reset();
    current.reset();
    caption_line->SetLabel(wxString());
    subtitle_line->SetLabel(wxString());
    note_line->SetLabel(wxString());
    view->show_note(wxString());
}

void trip_picture_panel::show_record(size_t record) {
    if (!shown_trip || record >= shown_trip->index.records().size())
        return;
    if (current == record)
        return;
    current = record;
    const index_record& frame = shown_trip->index.records()[record];
    caption_line->SetLabel(caption_of(record));
    subtitle_line->SetLabel(shown_trip->position_at(record).expand(format_subs));
    try {
        view->show_picture(frames->read(shown_trip->index.file_of(frame), frame.frame_in_file));
        note_line->SetLabel(wxString());
    } catch (const std::exception& failure) {
        show_note(wxString::Format(wxString::FromUTF8("Кадр %d не показать: %s"), frame.frame,
                                   wxString::FromUTF8(failure.what())));
    }
}

void trip_picture_panel::show_note(const wxString& text) {
    view->show_note(text);
    note_line->SetLabel(text);
}

wxString trip_picture_panel::caption() const {
    return caption_line->GetLabel();
}

wxString trip_picture_panel::subtitle() const {
    return subtitle_line->GetLabel();
}

wxString trip_picture_panel::note() const {
    return note_line->GetLabel();
}

wxString trip_picture_panel::caption_of(size_t record) const {
    if (!shown_trip)
        return {};
    // Trip (its start), camera and the frame's own time.
    wxString text = wxString::Format(wxString::FromUTF8("Поездка %s  %s"),
                                     utf8(shown_trip->started), utf8(shown_trip->camera));
    if (record >= shown_trip->index.records().size())
        return text;
    const std::string& time_text = shown_trip->index.records()[record].time_text;
    const int64_t seconds = shown_trip->seconds[record];
    text +=
        "  " + (seconds < 0 ? utf8(time_text)
                            : wxDateTime(static_cast<time_t>(seconds)).Format("%Y.%m.%d %H:%M:%S"));
    return text;
}
