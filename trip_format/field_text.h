#pragma once
// Numbers and times as a trip's files write them (data.idx, route.csv, marks.csv): the writing
// and the reading side use these forms, so a file reads back as it was written.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "%f" with six decimals and always a full stop, whatever numeric locale is in force.
std::string six_decimals(double value);

// A record's time: the local time in the C locale's date-and-time form, as in
// "Fri May  1 12:31:47 2026"; empty for an unknown time (-1).
std::string record_time_text(int64_t seconds);
// The seconds since 1970 of such a text; nothing for an empty or unreadable one.
std::optional<int64_t> record_time_seconds(const std::string& text);

// A whole field as a number: false when it is empty or anything of it is left over.
template <typename Number> bool parse_field(std::string_view text, Number& value) {
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}
