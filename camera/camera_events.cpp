#include "camera/camera_events.h"

wxDEFINE_EVENT(camera_frame_event, wxThreadEvent);
wxDEFINE_EVENT(camera_rows_event, wxThreadEvent);

void post_camera_event(wxEvtHandler* target, wxEventType type) {
    wxQueueEvent(target, new wxThreadEvent(type, wxID_ANY));
}
