#pragma once
// Events the camera's worker threads queue to their camera_screen. Each is a plain
// wxThreadEvent; the text rides in GetString().

#include <wx/event.h>

// A new frame is in the display slot.
wxDECLARE_EVENT(camera_frame_event, wxThreadEvent);
// Text for a red journal row: a lost coordinate server, a lost stream, dropped frames.
wxDECLARE_EVENT(camera_error_event, wxThreadEvent);
// Text for a blue journal row: the stream or the coordinate server came back.
wxDECLARE_EVENT(camera_info_event, wxThreadEvent);
// One frame reached a file.
wxDECLARE_EVENT(writer_progress_event, wxThreadEvent);

// Queues an event of that type with that text to the handler; any thread.
void post_camera_event(wxEvtHandler* target, wxEventType type, const wxString& text = wxString());
