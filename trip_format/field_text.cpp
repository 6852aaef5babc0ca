#include "trip_format/field_text.h"

#include <wx/datetime.h>
#include <wx/string.h>

std::string six_decimals(double value) {
    return wxString::FromCDouble(value, 6).utf8_string();
}

std::string record_time_text(int64_t seconds) {
    if (seconds == -1)
        return {};
    return wxDateTime(static_cast<time_t>(seconds)).Format(wxDefaultDateTimeFormat).utf8_string();
}

std::optional<int64_t> record_time_seconds(const std::string& text) {
    // The process keeps the C locale, whose form the writer used.
    wxDateTime time;
    wxString::const_iterator end;
    const wxString wide = wxString::FromUTF8(text.c_str());
    if (wide.empty() || !time.ParseFormat(wide, wxDefaultDateTimeFormat, &end) || end != wide.end())
        return std::nullopt;
    return static_cast<int64_t>(time.GetTicks());
}
