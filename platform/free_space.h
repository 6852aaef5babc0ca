#pragma once
// How much room is left on the disk that holds a folder.

#include <cstdint>
#include <optional>
#include <wx/string.h>

namespace platform {

// The bytes an ordinary program may still write on the file system of `folder`; nothing when
// the folder cannot be asked (missing, or its disk gone).
std::optional<std::uintmax_t> available_bytes(const wxString& folder);

} // namespace platform
