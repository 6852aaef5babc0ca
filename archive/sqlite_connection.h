#pragma once
// One SQLite connection, closed with its owner. Failures throw sqlite_error with SQLite's own
// message.

#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

struct sqlite_error : std::runtime_error {
    sqlite_error(const std::string& what, int code) : std::runtime_error(what), code(code) {}
    // SQLite's primary result code (SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_CANTOPEN, ...).
    int code;
};

class sqlite_statement;

class sqlite_connection {
public:
    // `name` as sqlite3_open_v2 takes it (a path, or a "file:" URI); flags of SQLITE_OPEN_*.
    sqlite_connection(const std::string& name, int flags);
    ~sqlite_connection();
    sqlite_connection(const sqlite_connection&) = delete;
    sqlite_connection& operator=(const sqlite_connection&) = delete;

    // Runs statements that return no rows.
    void execute(const std::string& sql);
    sqlite_statement prepare(const std::string& sql);
    // The integer of a one-value query ("PRAGMA user_version").
    long long single_integer(const std::string& sql);

    sqlite3* handle() const { return db; }
    [[noreturn]] void fail(const std::string& doing) const;

private:
    sqlite3* db = nullptr;
};
