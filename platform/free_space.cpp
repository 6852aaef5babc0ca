#include "platform/free_space.h"

#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::optional<std::uintmax_t> available_bytes(const wxString& folder) {
    std::error_code error;
    const std::filesystem::space_info space =
        std::filesystem::space(std::filesystem::path(to_narrow(folder)), error);
    if (error)
        return std::nullopt;
    return space.available;
}

} // namespace platform
