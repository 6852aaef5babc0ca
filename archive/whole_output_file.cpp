#include "archive/whole_output_file.h"

#include <stdexcept>
#include <system_error>
#include <unistd.h>

whole_output_file::whole_output_file(std::filesystem::path target)
    : target(std::move(target)),
      part(this->target.string() + ".part" + std::to_string(static_cast<long>(getpid()))) {
    const std::filesystem::path folder =
        this->target.has_parent_path() ? this->target.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        throw std::runtime_error("cannot write " + this->target.string() + ": there is no folder " +
                                 folder.string());
}

whole_output_file::~whole_output_file() {
    if (kept)
        return;
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
}

void whole_output_file::keep() {
    std::error_code error;
    std::filesystem::rename(part, target, error);
    if (error)
        throw std::runtime_error("cannot write " + target.string() + ": " + error.message());
    kept = true;
}
