#include "archive/sqlite_statement.h"

#include "archive/sqlite_connection.h"

#include <sqlite3.h>

sqlite_statement::sqlite_statement(sqlite_connection& connection, const std::string& sql)
    : connection(&connection) {
    if (sqlite3_prepare_v2(connection.handle(), sql.c_str(), static_cast<int>(sql.size()),
                           &statement, nullptr) != SQLITE_OK)
        connection.fail(sql);
}

sqlite_statement::~sqlite_statement() {
    sqlite3_finalize(statement);
}

sqlite_statement::sqlite_statement(sqlite_statement&& other) noexcept
    : connection(other.connection), statement(other.statement) {
    other.statement = nullptr;
}

sqlite_statement& sqlite_statement::bind(int position, int64_t value) {
    if (sqlite3_bind_int64(statement, position, value) != SQLITE_OK)
        connection->fail("bind");
    return *this;
}

sqlite_statement& sqlite_statement::bind(int position, double value) {
    if (sqlite3_bind_double(statement, position, value) != SQLITE_OK)
        connection->fail("bind");
    return *this;
}

sqlite_statement& sqlite_statement::bind(int position, const std::string& value) {
    if (sqlite3_bind_text(statement, position, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        connection->fail("bind");
    return *this;
}

bool sqlite_statement::step() {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    connection->fail(sqlite3_sql(statement));
}

void sqlite_statement::run() {
    // Reset whatever the outcome: a statement left mid-run refuses every later bind.
    try {
        while (step()) {
        }
    } catch (const sqlite_error&) {
        reset();
        throw;
    }
    reset();
}

void sqlite_statement::reset() {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

int64_t sqlite_statement::integer(int column) const {
    return sqlite3_column_int64(statement, column);
}

double sqlite_statement::real(int column) const {
    return sqlite3_column_double(statement, column);
}

std::string sqlite_statement::text(int column) const {
    const auto* const bytes = sqlite3_column_text(statement, column);
    return bytes != nullptr
               ? std::string(reinterpret_cast<const char*>(bytes),
                             static_cast<size_t>(sqlite3_column_bytes(statement, column)))
               : std::string();
}
