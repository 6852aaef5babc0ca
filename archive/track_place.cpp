#include "archive/track_place.h"

#include "trip_format/field_text.h"

#include <cmath>

namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool metres(std::string text, double& value) {
    for (char& c : text)
        if (c == ',')
            c = '.';
    // Metres are never negative: "126+-5" is a typing slip, not a place.
    return !text.empty() && text.front() != '-' && text.front() != '+' &&
           parse_field(text, value) && std::isfinite(value);
}

} // namespace

std::optional<track_place> track_place::parse(const std::string& text) {
    const std::string place = trimmed(text);
    // The separator comes after the kilometre's digits: a leading minus is the kilometre's sign.
    const size_t separator = place.find_first_of("+ ", 1);
    track_place result;
    if (separator == std::string::npos) {
        result.absolute = true;
        std::string number = place;
        for (char& c : number)
            if (c == ',')
                c = '.';
        if (!parse_field(number, result.abs) || !std::isfinite(result.abs))
            return std::nullopt;
        return result;
    }
    std::string rest = trimmed(place.substr(separator + 1));
    // "126 + 740": the space came first, the plus sign still separates.
    if (place[separator] == ' ' && !rest.empty() && rest.front() == '+')
        rest = trimmed(rest.substr(1));
    if (!parse_field(trimmed(place.substr(0, separator)), result.km) || !metres(rest, result.m))
        return std::nullopt;
    return result;
}
