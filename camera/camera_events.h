#pragma once
// Events a camera pane queues to itself when its feed tells it something from a worker thread.
// Each is a plain wxThreadEvent without payload: the feed holds the data.

#include <wx/event.h>

// A new picture is in the feed.
wxDECLARE_EVENT(camera_frame_event, wxThreadEvent);
// Journal rows are waiting in the feed.
wxDECLARE_EVENT(camera_rows_event, wxThreadEvent);

// Queues an event of that type to the handler; any thread.
void post_camera_event(wxEvtHandler* target, wxEventType type);
