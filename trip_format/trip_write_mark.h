#pragma once
// Whether a trip folder is finished, still being written, or was left by a power cut: a lock
// file in the trip folder, held while a writer writes it.

#include <filesystem>

enum class trip_state { finished, being_written, cut };

trip_state state_of_trip(const std::filesystem::path& trip_folder);
