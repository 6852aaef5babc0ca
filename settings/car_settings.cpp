#include "settings/car_settings.h"

#include <algorithm>
#include <wx/utils.h>

wxString read_car_name(const wxConfigBase& config) {
    wxString name;
    config.Read("car_name", &name);
    name.Trim(true).Trim(false);
    return name.empty() ? wxGetHostName() : name;
}

uint64_t default_retention_free_bytes(uint64_t disk_bytes) {
    constexpr uint64_t two_gb = 2ull << 30;
    return std::max(disk_bytes / 20, two_gb);
}

uint64_t read_retention_free_bytes(const wxConfigBase& config, uint64_t disk_bytes) {
    wxString text;
    config.Read("retention_free_mb", &text);
    long megabytes = 0;
    if (text.Trim(true).Trim(false).ToLong(&megabytes) && megabytes > 0)
        return static_cast<uint64_t>(megabytes) << 20;
    return default_retention_free_bytes(disk_bytes);
}
