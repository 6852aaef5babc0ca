#include "camera/camera_events.h"

wxDEFINE_EVENT(camera_frame_event, wxThreadEvent);
wxDEFINE_EVENT(camera_error_event, wxThreadEvent);
wxDEFINE_EVENT(camera_info_event, wxThreadEvent);
wxDEFINE_EVENT(writer_progress_event, wxThreadEvent);

void post_camera_event(wxEvtHandler* target, wxEventType type, const wxString& text) {
    wxThreadEvent event(type, wxID_ANY);
    event.SetString(text);
    // Clone deep-copies the text, so nothing is shared with the posting thread.
    wxQueueEvent(target, event.Clone());
}
