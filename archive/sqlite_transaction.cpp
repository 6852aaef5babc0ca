#include "archive/sqlite_transaction.h"

#include <sqlite3.h>

sqlite_transaction::sqlite_transaction(sqlite_connection& connection) : connection(connection) {
    connection.execute("BEGIN IMMEDIATE");
}

sqlite_transaction::~sqlite_transaction() {
    if (!done)
        sqlite3_exec(connection.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void sqlite_transaction::commit() {
    connection.execute("COMMIT");
    done = true;
}
