#pragma once
// One line of comma-separated values as spreadsheets read them: a field with a comma, a quote
// or a line break is quoted, quotes doubled.

#include <string>
#include <vector>

class csv_line {
public:
    csv_line& add(const std::string& field);
    // The fields joined, without a line end.
    const std::string& text() const { return line; }

    // The fields of one line (without its line end); quoted fields lose their quotes.
    static std::vector<std::string> split(const std::string& line);

private:
    std::string line;
    bool first = true;
};
