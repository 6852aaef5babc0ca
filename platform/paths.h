#pragma once
// Folders and device names that differ between Windows and Linux.

#include <wx/string.h>

namespace platform {

// The user's home (profile) folder; on Linux wxGTK takes it from $HOME.
wxString home_dir();

// The device path that opens a serial port: "\\.\COM1" on Windows. On Linux a name that
// begins with "/" is used as it stands, "COMn" means /dev/ttyS(n-1), any other name lies in /dev.
wxString serial_device_path(const wxString& port_name);

} // namespace platform
