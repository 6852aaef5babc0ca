#include "platform/paths.h"

#include <wx/filename.h>

namespace platform {

wxString home_dir() {
    return wxFileName::GetHomeDir();
}

#ifdef _WIN32

wxString serial_device_path(const wxString& port_name) {
    return wxString::Format("\\\\.\\%s", port_name);
}

#else

wxString serial_device_path(const wxString& port_name) {
    if (port_name.StartsWith("/"))
        return port_name;
    wxString number;
    unsigned long n = 0;
    if (port_name.StartsWith("COM", &number) && number.ToULong(&n) && n >= 1)
        return wxString::Format("/dev/ttyS%lu", n - 1);
    return "/dev/" + port_name;
}

#endif

} // namespace platform
