#include "archive/trip_manifest.h"

#include <cctype>
#include <sstream>

bool plain_manifest_name(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || c == '\n' || c == '\r' || c == '\0')
            return false;
    return true;
}

std::string trip_manifest::text() const {
    std::string text;
    for (const auto& [name, sum] : sums)
        text += sum + "  " + name + "\n";
    return text;
}

namespace {

bool hex_sum(const std::string& text) {
    if (text.size() != 64)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) ||
            std::isupper(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::optional<trip_manifest> trip_manifest::parse(const std::string& text) {
    trip_manifest manifest;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // "<sum>  <name>" (text mode) or "<sum> *<name>" (binary mode).
        if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*'))
            return std::nullopt;
        const std::string sum = line.substr(0, 64);
        const std::string name = line.substr(66);
        if (!hex_sum(sum) || !plain_manifest_name(name) || !manifest.sums.emplace(name, sum).second)
            return std::nullopt;
    }
    return manifest;
}
