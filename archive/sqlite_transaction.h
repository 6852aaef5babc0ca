#pragma once
// BEGIN IMMEDIATE .. COMMIT on one connection; rolled back when left without commit().

#include "archive/sqlite_connection.h"

class sqlite_transaction {
public:
    explicit sqlite_transaction(sqlite_connection& connection);
    ~sqlite_transaction();
    sqlite_transaction(const sqlite_transaction&) = delete;
    sqlite_transaction& operator=(const sqlite_transaction&) = delete;
    void commit();

private:
    sqlite_connection& connection;
    bool done = false;
};
