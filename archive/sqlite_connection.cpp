#include "archive/sqlite_connection.h"

#include "archive/sqlite_statement.h"

#include <sqlite3.h>

sqlite_connection::sqlite_connection(const std::string& name, int flags) {
    const int result = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    if (result != SQLITE_OK) {
        const std::string why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result);
        sqlite3_close(db);
        throw sqlite_error(why, result & 0xff);
    }
    sqlite3_extended_result_codes(db, 1);
    // The recorder's keeper and a reader may write at once: the later waits its turn.
    sqlite3_busy_timeout(db, 10000);
}

sqlite_connection::~sqlite_connection() {
    sqlite3_close_v2(db);
}

void sqlite_connection::execute(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(sql);
}

sqlite_statement sqlite_connection::prepare(const std::string& sql) {
    return sqlite_statement(*this, sql);
}

long long sqlite_connection::single_integer(const std::string& sql) {
    sqlite_statement query(*this, sql);
    return query.step() ? query.integer(0) : 0;
}

void sqlite_connection::fail(const std::string& doing) const {
    throw sqlite_error(std::string(sqlite3_errmsg(db)) + " (" + doing + ")",
                       sqlite3_errcode(db) & 0xff);
}
