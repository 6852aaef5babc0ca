#pragma once
// One prepared SQLite statement: bind by position (from 1), step through the rows, read
// columns (from 0), reset to run it again.

#include <cstdint>
#include <string>

struct sqlite3_stmt;
class sqlite_connection;

class sqlite_statement {
public:
    sqlite_statement(sqlite_connection& connection, const std::string& sql);
    ~sqlite_statement();
    sqlite_statement(sqlite_statement&& other) noexcept;
    sqlite_statement(const sqlite_statement&) = delete;
    sqlite_statement& operator=(const sqlite_statement&) = delete;
    sqlite_statement& operator=(sqlite_statement&&) = delete;

    sqlite_statement& bind(int position, int64_t value);
    sqlite_statement& bind(int position, double value);
    sqlite_statement& bind(int position, const std::string& value);
    // True while there is a row to read; false once the statement is done.
    bool step();
    // Runs a statement that returns no rows, then makes it ready to run again, also when it
    // failed.
    void run();
    void reset();

    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;

private:
    sqlite_connection* connection;
    sqlite3_stmt* statement = nullptr;
};
