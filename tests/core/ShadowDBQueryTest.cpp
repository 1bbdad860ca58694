#include "shadow/ShadowDB.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;
using Kind = ShadowDB::Error::Kind;

ShadowMessage message(std::string guid, std::string text) {
    return ShadowMessage(std::move(guid), "chat1", std::string("Family"), "+15550001",
                         std::move(text), 10, false, true, false, {}, 1);
}

// A synced shadow database on disk, checkpointed so that its bytes stay put
// while it is only read.
class ShadowDBQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("shadow.db");
        ShadowDB writer(path);
        writer.createSchemaIfNeeded();
        writer.insertBatch({message("g1", "dinner tomorrow at 7"), message("g2", "see you")});
        writer.executeReadOnly("SELECT 1", 1); // the surface works on the read-write connection
    }

    std::map<std::string, std::string> snapshot() {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            std::string name = entry.path().filename().string();
            std::string bytes =
                name.ends_with("-shm") ? "" : testing::readFile(entry.path().string());
            files[name] = std::to_string(bytes.size()) + ":" +
                          std::to_string(std::hash<std::string>{}(bytes));
        }
        return files;
    }

    TempDir dir;
    std::string path;
};

TEST_F(ShadowDBQueryTest, ErrorsCarryShadowDBKindsAndTexts) {
    ShadowDB db(path);
    struct Case {
        std::string sql;
        Kind kind;
        std::string description;
    };
    const Case cases[] = {
        {" \n ", Kind::queryFailed, "Query failed: SQL query must not be empty"},
        {"DELETE FROM messages", Kind::queryFailed,
         "Query failed: Only read-only SQL statements are allowed"},
        {"SELECT 1; SELECT 2", Kind::queryFailed,
         "Query failed: Only a single SQL statement is allowed"},
        {"SELECT nope FROM messages", Kind::prepareFailed,
         "Statement preparation failed: no such column: nope"},
        {"ATTACH 'x.db' AS y", Kind::queryFailed,
         "Query failed: Attaching and detaching databases is not allowed on the read-only surface"},
    };
    for (const auto& c : cases) {
        try {
            db.executeReadOnly(c.sql, 0);
            ADD_FAILURE() << c.sql;
        } catch (const ShadowDB::Error& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.sql;
            EXPECT_EQ(std::string(error.what()), c.description);
        }
    }
    try {
        db.describeTable("messages; DROP TABLE messages");
        ADD_FAILURE();
    } catch (const ShadowDB::Error& error) {
        EXPECT_STREQ(error.what(),
                     "Query failed: Invalid table name: messages; DROP TABLE messages");
    }
    db.close();
    EXPECT_THROW(db.listTables(), ShadowDB::Error);
    EXPECT_THROW(db.executeReadOnly("SELECT 1", 0), ShadowDB::Error);
}

TEST_F(ShadowDBQueryTest, SchemaTablesAndColumns) {
    ShadowDB db(path);
    auto tables = db.listTables();
    for (const char* name :
         {"chat_participants", "messages", "messages_fts", "messages_fts_data", "sync_state"}) {
        EXPECT_NE(std::find(tables.begin(), tables.end(), name), tables.end()) << name;
    }
    EXPECT_TRUE(std::is_sorted(tables.begin(), tables.end()));
    auto columns = db.describeTable("  messages ");
    ASSERT_EQ(columns.size(), 15u);
    EXPECT_EQ(columns[1], (ColumnInfo{"guid", "TEXT", true}));
    EXPECT_EQ(columns[3], (ColumnInfo{"chat_name", "TEXT", false}));
    EXPECT_EQ(columns[14], (ColumnInfo{"thread_originator_guid", "TEXT", false}));
    EXPECT_TRUE(db.describeTable("nothing_here").empty());
    EXPECT_GT(db.schemaVersion(), 0);
    auto rows = db.executeReadOnly("SELECT guid, text FROM messages ORDER BY guid", 0);
    ASSERT_EQ(rows.rows.size(), 2u);
    EXPECT_EQ(rows.rows[0].at("text"), SQLiteValue::text("dinner tomorrow at 7"));

    // Full-text queries run under the guard too: FTS5 reads its own tables
    // and pragmas on this connection while they step.
    auto matched = db.executeReadOnly(
        "SELECT m.guid, highlight(messages_fts, 0, '[', ']') AS marked, bm25(messages_fts) AS rank "
        "FROM messages_fts JOIN messages m ON m.rowid = messages_fts.rowid "
        "WHERE messages_fts MATCH 'dinner' ORDER BY rank",
        0);
    ASSERT_EQ(matched.rows.size(), 1u);
    EXPECT_EQ(matched.rows[0].at("marked"), SQLiteValue::text("[dinner] tomorrow at 7"));
}

TEST_F(ShadowDBQueryTest, ReadOnlyOpenReadsAndSearchesButNeverWrites) {
    const mode_t previousMask = ::umask(022);
    {
        ShadowDB writer(path);
        writer.executeReadOnly("SELECT 1", 1);
    }
    auto before = snapshot();
    {
        ShadowDBReader db(path);
        EXPECT_EQ(db.databasePath(), path);
        EXPECT_EQ(db.messageCount(), 2);
        EXPECT_EQ(db.search("dinner", 10).size(), 1u);
        EXPECT_EQ(db.executeReadOnly("SELECT COUNT(*) AS n FROM messages", 0).rows[0].at("n"),
                  SQLiteValue::integer(2));
        EXPECT_FALSE(db.listTables().empty());
        EXPECT_THROW(db.executeReadOnly("PRAGMA journal_mode = DELETE", 0), ShadowDB::Error);
    }
    // The database is untouched. A reader of a WAL database leaves the
    // (empty) write-ahead log and shared-memory index behind, as any SQLite
    // reader does; nothing else appears.
    auto after = snapshot();
    EXPECT_EQ(after.at("shadow.db"), before.at("shadow.db"));
    if (after.count("shadow.db-wal")) {
        EXPECT_EQ(std::filesystem::file_size(dir.file("shadow.db-wal")), 0u);
    }
    // Those two take the database's own mode: owner-only, whatever the umask.
    for (const char* sidecar : {"shadow.db-wal", "shadow.db-shm"}) {
        ASSERT_TRUE(after.count(sidecar)) << sidecar;
        EXPECT_EQ(std::filesystem::status(dir.file(sidecar)).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
            << sidecar;
    }
    after.erase("shadow.db-wal");
    after.erase("shadow.db-shm");
    EXPECT_EQ(after, before);

    ::umask(previousMask);

    // A writer keeps going while a read-only connection is open.
    ShadowDBReader reader(path);
    ShadowDB writer(path);
    writer.insertBatch({message("g3", "dinner again")});
    EXPECT_EQ(reader.search("dinner", 10).size(), 2u);
}

TEST_F(ShadowDBQueryTest, ReadOnlyOpenOfAMissingFileFailsAndCreatesNothing) {
    try {
        ShadowDBReader reader(dir.file("absent.db"));
        ADD_FAILURE();
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), Kind::failedToOpen);
        EXPECT_EQ(std::string(error.what()).rfind("Failed to open database: ", 0), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.db")));
}

TEST_F(ShadowDBQueryTest, RefusedStatementsLeaveTheShadowFilesAlone) {
    ShadowDB db(path);
    db.executeReadOnly("SELECT 1", 1);
    std::string error;
    auto before = snapshot();
    for (const char* sql : {"ATTACH 'x.db' AS y", "VACUUM INTO 'copy.db'", "REINDEX",
                            "PRAGMA optimize", "PRAGMA writable_schema = ON", "SAVEPOINT a",
                            "PRAGMA user_version = 3", "PRAGMA journal_mode = DELETE",
                            "INSERT INTO messages_fts(messages_fts) VALUES ('rebuild')",
                            "UPDATE sync_state SET last_rowid = 9"}) {
        EXPECT_THROW(db.executeReadOnly(sql, 0), ShadowDB::Error) << sql;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.db")));
    EXPECT_EQ(db.lastSyncWatermark().rowid, 0);
    // Replacing a message still keeps the index in step on this connection
    // (recursive_triggers was not switched off).
    db.insertBatch({message("g1", "lunch instead")});
    EXPECT_TRUE(db.search("dinner", 10).empty());
}

} // namespace
} // namespace orlune::core
