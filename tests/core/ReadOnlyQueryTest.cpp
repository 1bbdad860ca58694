#include "sql/ReadOnlyQuery.hpp"

#include "sql/SQLite.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

using testing::TempDir;

} // namespace

void PrintTo(const SQLiteValue& value, std::ostream* out) {
    switch (value.kind()) {
    case SQLiteValue::Kind::integer:
        *out << "integer(" << value.asInteger() << ")";
        break;
    case SQLiteValue::Kind::real:
        *out << "real(" << value.asReal() << ")";
        break;
    case SQLiteValue::Kind::text:
        *out << "text(\"" << value.asText() << "\")";
        break;
    case SQLiteValue::Kind::blob:
        *out << "blob(" << value.asBlob().size() << " bytes)";
        break;
    case SQLiteValue::Kind::null:
        *out << "null";
        break;
    }
}

namespace {
using Kind = ReadOnlyQuery::Error::Kind;

// A WAL database with a small messages table, opened the way the shadow
// database opens its read-write connection.
class ReadOnlyQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(db.open(dir.file("shadow.db"),
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX),
                  SQLITE_OK);
        exec("PRAGMA journal_mode = WAL");
        exec("CREATE TABLE messages (rowid INTEGER PRIMARY KEY, guid TEXT UNIQUE NOT NULL, "
             "text TEXT NOT NULL, chat_name TEXT, note)");
        exec("CREATE INDEX idx_messages_guid ON messages(guid)");
        exec("INSERT INTO messages (guid, text, chat_name) VALUES ('g1', 'hello', 'Family'), "
             "('g2', 'dinner tomorrow', NULL)");
    }

    void exec(const char* sql) { ASSERT_NO_THROW(sqlite::exec(db.get(), sql)) << sql; }

    ShadowQueryResult run(const std::string& sql, int limit = 0) {
        return ReadOnlyQuery::execute(db.get(), sql, limit);
    }

    // The error a refused statement raises.
    ReadOnlyQuery::Error
    failure(const std::string& sql,
            std::chrono::milliseconds limit = ReadOnlyQuery::kDefaultTimeLimit) {
        try {
            ReadOnlyQuery::execute(db.get(), sql, 0, limit);
        } catch (const ReadOnlyQuery::Error& error) {
            return error;
        }
        ADD_FAILURE() << "accepted: " << sql;
        return ReadOnlyQuery::Error(Kind::queryFailed, "");
    }

    // Names and bytes of every file in the folder, except the shared-memory
    // index that readers update as they take read locks.
    std::map<std::string, std::string> snapshot() {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            std::string name = entry.path().filename().string();
            files[name] = name.ends_with("-shm") ? "" : testing::readFile(entry.path().string());
        }
        return files;
    }

    TempDir dir;
    sqlite::Connection db;
};

TEST_F(ReadOnlyQueryTest, ChecksRunInOrderWithTheirTexts) {
    struct Case {
        std::string sql;
        Kind kind;
        std::string description;
    };
    const Case cases[] = {
        {"  \n\t \r\n ", Kind::queryFailed, "Query failed: SQL query must not be empty"},
        {"\u2003\u00a0", Kind::queryFailed, "Query failed: SQL query must not be empty"},
        {"DELETE FROM messages", Kind::queryFailed,
         "Query failed: Only read-only SQL statements are allowed"},
        {"SELECT 1; SELECT 2", Kind::queryFailed,
         "Query failed: Only a single SQL statement is allowed"},
        {"SELECT guid FROM messages; DELETE FROM messages", Kind::queryFailed,
         "Query failed: Only a single SQL statement is allowed"},
        {"SELECT * FROM no_such_table", Kind::prepareFailed,
         "Statement preparation failed: no such table: no_such_table"},
        {"SELEC 1", Kind::prepareFailed,
         "Statement preparation failed: near \"SELEC\": syntax error"},
    };
    for (const auto& c : cases) {
        auto error = failure(c.sql);
        EXPECT_EQ(error.kind(), c.kind) << c.sql;
        EXPECT_STREQ(error.what(), c.description.c_str()) << c.sql;
    }
}

TEST_F(ReadOnlyQueryTest, NothingWasDeletedByARefusedStatement) {
    failure("SELECT 1; DELETE FROM messages");
    failure("DELETE FROM messages");
    auto result = run("SELECT COUNT(*) AS n FROM messages");
    EXPECT_EQ(result.rows.at(0).at("n"), SQLiteValue::integer(2));
}

TEST_F(ReadOnlyQueryTest, TrailingSemicolonsAndSpacesAreAccepted) {
    auto result = run("  SELECT guid FROM messages ORDER BY guid ;; ; \n");
    ASSERT_EQ(result.rows.size(), 2u);
    EXPECT_EQ(result.rows[0].at("guid"), SQLiteValue::text("g1"));
}

TEST_F(ReadOnlyQueryTest, ColumnNamesAreMadeUnique) {
    auto result = run("SELECT 1, 1, 2 AS \"\", 1, 'x' AS a, 'y' AS a");
    std::vector<std::string> expected = {"1", "1_2", "column_2", "1_3", "a", "a_2"};
    EXPECT_EQ(result.columns, expected);
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0].at("column_2"), SQLiteValue::integer(2));
    EXPECT_EQ(result.rows[0].at("a_2"), SQLiteValue::text("y"));
}

TEST_F(ReadOnlyQueryTest, ValuesKeepTheirStorageClass) {
    auto result = run("SELECT 42 AS i, 2.5 AS r, 'héllo' AS t, NULL AS n, x'' AS empty_blob, "
                      "x'00ff' AS b, CAST(x'ff41' AS TEXT) AS bad_text");
    const auto& row = result.rows.at(0);
    EXPECT_EQ(row.at("i"), SQLiteValue::integer(42));
    EXPECT_EQ(row.at("r"), SQLiteValue::real(2.5));
    EXPECT_EQ(row.at("t"), SQLiteValue::text("héllo"));
    EXPECT_EQ(row.at("n"), SQLiteValue::null());
    EXPECT_EQ(row.at("empty_blob"), SQLiteValue::null());
    EXPECT_EQ(row.at("b"), SQLiteValue::blob(std::string("\0\xff", 2)));
    EXPECT_EQ(row.at("bad_text"), SQLiteValue::text("\xEF\xBF\xBD"
                                                    "A"));
}

TEST_F(ReadOnlyQueryTest, RowLimit) {
    const std::string many = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                             "WHERE x < 150) SELECT x FROM c";
    EXPECT_EQ(run(many, 0).rows.size(), 100u);
    EXPECT_EQ(run(many, -5).rows.size(), 100u);
    EXPECT_EQ(run(many, 1).rows.size(), 1u);
    EXPECT_EQ(run(many, 1000).rows.size(), 150u);
}

TEST_F(ReadOnlyQueryTest, RefusesStatementsThatChangeTheConnectionOrTheFiles) {
    exec("PRAGMA wal_checkpoint(TRUNCATE)");
    auto before = snapshot();
    struct Case {
        std::string sql;
        std::string reason; // a part of the description
    };
    const Case cases[] = {
        {"ATTACH 'x.db' AS y", "Attaching and detaching"},
        {"ATTACH DATABASE ':memory:' AS m", "Attaching and detaching"},
        {"DETACH y", "Attaching and detaching"},
        {"BEGIN", "Transaction and savepoint"},
        {"BEGIN IMMEDIATE", "Transaction and savepoint"},
        {"COMMIT", "Transaction and savepoint"},
        {"ROLLBACK", "Transaction and savepoint"},
        {"SAVEPOINT s", "Transaction and savepoint"},
        {"RELEASE s", "Transaction and savepoint"},
        {"REINDEX", "REINDEX"},
        {"/* why */ reindex messages", "REINDEX"},
        {"REINDEX idx_messages_guid", "REINDEX"},
        {"ANALYZE", "ANALYZE"},
        {"VACUUM", "VACUUM"},
        {"VACUUM INTO 'copy.db'", "VACUUM"},
        {"PRAGMA query_only = 1", "PRAGMA query_only"},
        {"PRAGMA locking_mode = EXCLUSIVE", "PRAGMA locking_mode"},
        {"PRAGMA writable_schema = ON", "PRAGMA writable_schema"},
        {"PRAGMA recursive_triggers = OFF", "PRAGMA recursive_triggers"},
        {"PRAGMA optimize", "PRAGMA optimize"},
        {"PRAGMA journal_mode = DELETE", "PRAGMA journal_mode"},
        {"PRAGMA user_version = 7", "PRAGMA user_version with a value"},
        {"PRAGMA schema_version = 1", "PRAGMA schema_version with a value"},
        {"PRAGMA wal_checkpoint", "PRAGMA wal_checkpoint"},
        {"SELECT load_extension('libfoo')", "load_extension"},
        {"SELECT hex(fts3_tokenizer('simple'))", "fts3_tokenizer"},
        {"SELECT FTS3_TOKENIZER('simple', x'0000000000000000')", "fts3_tokenizer"},
        {"CREATE TEMP TABLE t(a)", "Only read-only SQL statements are allowed"},
    };
    for (const auto& c : cases) {
        auto error = failure(c.sql);
        EXPECT_EQ(error.kind(), Kind::queryFailed) << c.sql;
        EXPECT_TRUE(std::string(error.what()).starts_with("Query failed: ")) << error.what();
        EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos)
            << c.sql << " -> " << error.what();
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("copy.db")));
    EXPECT_FALSE(std::filesystem::exists("x.db"));

    // The connection is as it was: not in a transaction, writable, one schema.
    EXPECT_NE(sqlite3_get_autocommit(db.get()), 0);
    exec("INSERT INTO messages (guid, text) VALUES ('g3', 'still writable')");
    EXPECT_EQ(run("SELECT COUNT(*) AS n FROM pragma_database_list WHERE name NOT IN ('main', "
                  "'temp')")
                  .rows.at(0)
                  .at("n"),
              SQLiteValue::integer(0));
    for (const char* pragma : {"PRAGMA recursive_triggers", "PRAGMA query_only",
                               "PRAGMA writable_schema", "PRAGMA user_version"}) {
        sqlite::Statement statement = db.prepare(pragma);
        ASSERT_TRUE(statement.step());
        EXPECT_EQ(statement.columnInt64(0), 0) << pragma;
    }
    sqlite::Statement mode = db.prepare("PRAGMA locking_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.columnText(0), "normal");
}

// Below the read-only surface too: no connection opened through
// sqlite::Connection gives out a tokenizer's address or takes a new one.
TEST_F(ReadOnlyQueryTest, EveryConnectionHasTheTokenizerFunctionDisabled) {
    try {
        sqlite::Statement address = db.prepare("SELECT fts3_tokenizer('simple')");
        ASSERT_TRUE(address.step());
        EXPECT_TRUE(address.isNull(0));
    } catch (const sqlite::Error&) {
        // Refused outright where SQLite was built without the function.
    }
    EXPECT_THROW(
        {
            sqlite::Statement replace =
                db.prepare("SELECT fts3_tokenizer('simple', x'0100000000000000')");
            static_cast<void>(replace.step());
        },
        sqlite::Error);
}

TEST_F(ReadOnlyQueryTest, ReadOnlyPragmasAreAllowed) {
    for (const char* sql : {"PRAGMA table_info(messages)", "PRAGMA main.table_xinfo(messages)",
                            "PRAGMA index_list(messages)", "PRAGMA index_info(idx_messages_guid)",
                            "PRAGMA schema_version", "PRAGMA user_version", "PRAGMA page_count",
                            "PRAGMA compile_options", "PRAGMA foreign_key_list(messages)",
                            "SELECT name FROM pragma_table_info('messages')"}) {
        EXPECT_NO_THROW(run(sql)) << sql;
    }
    auto columns = run("PRAGMA table_info(messages)");
    EXPECT_EQ(columns.rows.size(), 5u);
}

TEST_F(ReadOnlyQueryTest, ARunawayQueryIsStoppedAndTheConnectionStaysUsable) {
    auto error = failure("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                         "SELECT COUNT(*) FROM c",
                         std::chrono::milliseconds(50));
    EXPECT_EQ(error.kind(), Kind::queryFailed);
    EXPECT_STREQ(error.what(),
                 "Query failed: Query stopped after running longer than its time limit of 50 ms");
    // Neither the deadline nor the authorizer outlives the call.
    exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000) "
         "SELECT COUNT(*) FROM c");
    exec("BEGIN; COMMIT;");
    EXPECT_EQ(run("SELECT COUNT(*) AS n FROM messages").rows.at(0).at("n"),
              SQLiteValue::integer(2));
}

TEST_F(ReadOnlyQueryTest, ListTablesIncludesTheFullTextTables) {
    exec("CREATE VIRTUAL TABLE messages_fts USING fts5(text, content='messages', "
         "content_rowid='rowid')");
    exec("CREATE VIEW recent AS SELECT * FROM messages");
    auto tables = ReadOnlyQuery::listTables(db.get());
    std::vector<std::string> expected = {"messages",
                                         "messages_fts",
                                         "messages_fts_config",
                                         "messages_fts_data",
                                         "messages_fts_docsize",
                                         "messages_fts_idx",
                                         "recent"};
    EXPECT_EQ(tables, expected);
}

TEST_F(ReadOnlyQueryTest, DescribeTable) {
    std::vector<ColumnInfo> expected = {{"rowid", "INTEGER", false},
                                        {"guid", "TEXT", true},
                                        {"text", "TEXT", true},
                                        {"chat_name", "TEXT", false},
                                        {"note", "", false}};
    EXPECT_EQ(ReadOnlyQuery::describeTable(db.get(), " \tmessages\n"), expected);
    EXPECT_TRUE(ReadOnlyQuery::describeTable(db.get(), "no_such_table").empty());
    for (std::string name : {"messages; DROP TABLE messages", "1abc", "", "mess ages", "a-b"}) {
        try {
            ReadOnlyQuery::describeTable(db.get(), name);
            ADD_FAILURE() << name;
        } catch (const ReadOnlyQuery::Error& error) {
            EXPECT_EQ(error.kind(), Kind::queryFailed);
            EXPECT_EQ(std::string(error.what()), "Query failed: Invalid table name: " + name);
        }
    }
    EXPECT_EQ(ReadOnlyQuery::describeTable(db.get(), "messages").size(), 5u);
}

TEST_F(ReadOnlyQueryTest, SchemaVersionFollowsSchemaChanges) {
    int64_t before = ReadOnlyQuery::schemaVersion(db.get());
    EXPECT_GT(before, 0);
    exec("CREATE TABLE extra (a)");
    EXPECT_GT(ReadOnlyQuery::schemaVersion(db.get()), before);
}

TEST(ReadOnlyQueryClosed, AClosedConnectionFailsToPrepare) {
    try {
        ReadOnlyQuery::execute(nullptr, "SELECT 1", 0);
        ADD_FAILURE();
    } catch (const ReadOnlyQuery::Error& error) {
        EXPECT_STREQ(error.what(), "Statement preparation failed: Database is closed");
    }
    EXPECT_THROW(ReadOnlyQuery::listTables(nullptr), ReadOnlyQuery::Error);
}

TEST(SQLiteValueEquality, ComparesKindAndPayload) {
    EXPECT_EQ(SQLiteValue::real(0.0), SQLiteValue::real(-0.0));
    EXPECT_FALSE(SQLiteValue::real(std::nan("")) == SQLiteValue::real(std::nan("")));
    EXPECT_FALSE(SQLiteValue::integer(1) == SQLiteValue::real(1.0));
    EXPECT_FALSE(SQLiteValue::text("a") == SQLiteValue::blob("a"));
    EXPECT_EQ(SQLiteValue::null(), SQLiteValue::null());
}

} // namespace
} // namespace orlune::core
