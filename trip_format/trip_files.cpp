#include "trip_format/trip_files.h"

wxString trip_folder_name(const wxDateTime& opened, const wxString& camera_name) {
    return wxString::Format("%s[%s]", opened.Format("%Y.%m.%d %H.%M.%S"), camera_name);
}
