#pragma once
// Two keys a maintainer sets once per car in the settings file, kept out of the settings
// dialog: car_name names the car's folder in the office archive and its copies' identity
// (renaming it casually would split the car's archive), and retention_free_mb is the free
// space the recorder keeps at write_path by deleting offloaded trips.

#include <cstdint>
#include <wx/config.h>
#include <wx/string.h>

// car_name; default (missing or empty): the computer's host name.
wxString read_car_name(const wxConfigBase& config);

// retention_free_mb in bytes; default (missing, not a number, or below 1): the larger of 5 % of
// the disk's size and 2 GB, which is what `disk_bytes` gives.
uint64_t read_retention_free_bytes(const wxConfigBase& config, uint64_t disk_bytes);
uint64_t default_retention_free_bytes(uint64_t disk_bytes);
