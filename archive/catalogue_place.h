#pragma once
// Where the catalogue of a folder of trips lives. Beside the trips as a rule; but SQLite's
// locks and its write-ahead log's shared memory are not safe on network shares and user-space
// file systems, so the catalogue of a folder there lives in the user's cache folder
// ($XDG_CACHE_HOME/kestrel/, else ~/.cache/kestrel/), one file per folder.

#include <filesystem>

std::filesystem::path catalogue_file_for(const std::filesystem::path& root,
                                         const char* file_name = "catalogue.sqlite");
