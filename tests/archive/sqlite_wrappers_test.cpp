// The SQLite wrappers where things go wrong: every failure is an sqlite_error with SQLite's
// primary code (which the catalogue uses to tell a broken file from a busy one) and a text
// naming what was tried, and a transaction left without commit leaves nothing behind.

#include "archive/sqlite_connection.h"
#include "archive/sqlite_statement.h"
#include "archive/sqlite_transaction.h"
#include "tests/recording/recording_test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace {

constexpr int open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

// The code and text of the sqlite_error the call throws; code -1 when it throws none.
template <typename Call> sqlite_error failure_of(Call call) {
    try {
        call();
    } catch (const sqlite_error& error) {
        return error;
    }
    return sqlite_error("nothing thrown", -1);
}

long long count_rows(sqlite_connection& db) {
    return db.single_integer("SELECT count(*) FROM t");
}

} // namespace

TEST(sqlite_wrappers, failures_carry_the_primary_code_and_what_was_tried) {
    scratch_folder folder;
    const sqlite_error missing_folder = failure_of(
        [&] { sqlite_connection(folder.path() + "/gone/c.sqlite", SQLITE_OPEN_READWRITE); });
    EXPECT_EQ(missing_folder.code, SQLITE_CANTOPEN) << missing_folder.what();

    // A file that is no database opens (SQLite reads lazily) and fails at the first statement.
    const std::string not_database = folder.path() + "/notes.sqlite";
    std::ofstream(not_database) << std::string(4096, 'x');
    sqlite_connection notes(not_database, open_flags);
    const sqlite_error notadb = failure_of([&] { notes.execute("SELECT * FROM sqlite_master"); });
    EXPECT_EQ(notadb.code, SQLITE_NOTADB) << notadb.what();

    sqlite_connection db(folder.path() + "/c.sqlite", open_flags);
    db.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)");
    const sqlite_error typo = failure_of([&] { db.prepare("SELEKT 1"); });
    EXPECT_EQ(typo.code, SQLITE_ERROR);
    EXPECT_NE(std::string(typo.what()).find("SELEKT 1"), std::string::npos) << typo.what();

    sqlite_statement insert = db.prepare("INSERT INTO t(name) VALUES (?)");
    insert.bind(1, std::string("a")).run();
    const sqlite_error twice = failure_of([&] { insert.bind(1, std::string("a")).run(); });
    EXPECT_EQ(twice.code, SQLITE_CONSTRAINT) << "the extended code is cut to the primary one";
    EXPECT_NE(std::string(twice.what()).find("INSERT INTO t"), std::string::npos) << twice.what();
    const sqlite_error no_place = failure_of([&] { insert.bind(2, int64_t{1}); });
    EXPECT_EQ(no_place.code, SQLITE_RANGE) << no_place.what();

    // The statement that failed runs again once given a value that fits.
    insert.reset();
    insert.bind(1, std::string("b")).run();
    EXPECT_EQ(count_rows(db), 2);
}

TEST(sqlite_wrappers, a_transaction_left_without_commit_is_rolled_back_and_the_connection_goes_on) {
    scratch_folder folder;
    sqlite_connection db(folder.path() + "/c.sqlite", open_flags);
    db.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)");
    EXPECT_THROW(
        {
            sqlite_transaction transaction(db);
            db.prepare("INSERT INTO t(name) VALUES ('kept?')").run();
            db.prepare("INSERT INTO t(name) VALUES (NULL)").run();
            transaction.commit();
        },
        sqlite_error);
    EXPECT_EQ(count_rows(db), 0) << "the row before the failure went with it";

    {
        sqlite_transaction transaction(db);
        db.prepare("INSERT INTO t(name) VALUES ('kept')").run();
        transaction.commit();
    }
    EXPECT_EQ(count_rows(db), 1);

    // Another connection sees only what was committed.
    sqlite_connection reader(folder.path() + "/c.sqlite", SQLITE_OPEN_READONLY);
    {
        sqlite_transaction transaction(db);
        db.prepare("INSERT INTO t(name) VALUES ('not yet')").run();
        EXPECT_EQ(count_rows(reader), 1);
    }
    EXPECT_EQ(count_rows(reader), 1);
    EXPECT_EQ(count_rows(db), 1);
}
