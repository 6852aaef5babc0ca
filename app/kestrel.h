#pragma once
// The application object: creates and shows the main window and catches what escapes the
// event loop.

#include <wx/app.h>

class kestrel_frame;

class kestrel : public wxApp {
public:
    bool OnInit() override;
    void OnUnhandledException() override;
    bool OnExceptionInMainLoop() override;

private:
    kestrel_frame* frame = nullptr; // owned by the toolkit
};

wxDECLARE_APP(kestrel);

// Builds and shows the main window. A standard exception on the way is shown in the
// "C++ exception" box and gives null (the half-built window is gone); any other exception shows
// the fatal box and ends the process with code 1.
kestrel_frame* start_main_window();

// Shows the box for the exception being handled that escaped an event handler; true when the
// main loop may go on (a standard exception), false when the program must end.
bool report_escaped_exception();
