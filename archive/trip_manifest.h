#pragma once
// manifest.sha256 of an offloaded trip: one line per file of the trip, "<sha256>  <name>", as
// sha256sum writes and checks it (`sha256sum -c manifest.sha256` in the copy's folder).

#include <map>
#include <optional>
#include <string>

struct trip_manifest {
    static constexpr const char* file_name = "manifest.sha256";

    // File name (UTF-8, no folder) to its SHA-256 in hex.
    std::map<std::string, std::string> sums;

    std::string text() const;
    // Nothing when the text is not a manifest of plain names (a line sha256sum would not take,
    // a name with a folder, a name given twice).
    static std::optional<trip_manifest> parse(const std::string& text);

    bool operator==(const trip_manifest& other) const { return sums == other.sums; }
    bool operator!=(const trip_manifest& other) const { return sums != other.sums; }
};

// A file name sha256sum writes without escaping and that lies directly in a folder.
bool plain_manifest_name(const std::string& name);
