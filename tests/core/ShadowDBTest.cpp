#include "shadow/ShadowDB.hpp"

#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/ShadowWrites.hpp"
#include "tests/support/TempDir.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;
using ::testing::ElementsAre;

ShadowMessage message(std::string guid, std::string text = "hello",
                      std::optional<std::string> chatName = std::nullopt,
                      std::vector<std::string> kinds = {}, int64_t timestamp = 100) {
    bool hasAttachments = !kinds.empty();
    return ShadowMessage(std::move(guid), "chat-1", std::move(chatName), "+15550001",
                         std::move(text), timestamp, false, true, hasAttachments, std::move(kinds),
                         1);
}

using Inspector = orlune::testing::DatabaseProbe;
using orlune::testing::FakeEnvironment;

class ShadowDBTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("shadow.db");

    std::unique_ptr<ShadowDB> openWithSchema() {
        auto db = std::make_unique<ShadowDB>(path);
        db->createSchemaIfNeeded();
        return db;
    }
};

TEST_F(ShadowDBTest, OpeningCreatesTheFileAndSetsTheConnectionUp) {
    ShadowDB db(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(db.databasePath(), path);
    Inspector inspect(path);
    // WAL is stored in the file, so another connection sees it.
    EXPECT_EQ(inspect.value("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(inspect.value("SELECT count(*) FROM sqlite_master"), "0");
}

TEST_F(ShadowDBTest, SchemaCreatesEveryObjectAndAFreshCursor) {
    auto db = openWithSchema();
    Inspector inspect(path);
    std::set<std::pair<std::string, std::string>> objects;
    for (const auto& row :
         inspect.rows("SELECT type, name FROM sqlite_master "
                      "WHERE name NOT LIKE 'sqlite_%' "
                      "AND NOT (type = 'table' AND (name GLOB 'messages_fts_*' "
                      "OR name GLOB 'attachment_names_fts_*' OR name GLOB 'spaced_fts_*'))")) {
        objects.emplace(row[0], row[1]);
    }
    std::set<std::pair<std::string, std::string>> expected = {
        {"table", "messages"},
        {"table", "messages_fts"},
        {"trigger", "messages_fts_insert"},
        {"trigger", "messages_fts_delete"},
        {"trigger", "messages_fts_update"},
        {"index", "idx_messages_chat"},
        {"index", "idx_messages_timestamp"},
        {"index", "idx_messages_sender"},
        {"index", "idx_messages_chat_time"},
        {"index", "idx_messages_guid"},
        {"table", "chat_participants"},
        {"index", "idx_chat_participants_chat"},
        {"index", "idx_chat_participants_handle"},
        {"table", "sync_state"},
        {"table", "sync_marks"},
        {"table", "sync_source"},
        {"table", "people"},
        {"table", "person_handles"},
        {"index", "idx_person_handles_person"},
        {"table", "chats"},
        {"table", "people_state"},
        {"view", "messages_named"},
        {"table", "reactions"},
        {"index", "idx_reactions_guid"},
        {"table", "attachments"},
        {"trigger", "attachments_follow_message"},
        {"table", "recently_deleted"},
        {"table", "store_deletions"},
        {"table", "message_chats"},
        {"index", "idx_message_chats_chat"},
        {"trigger", "message_chats_follow_message"},
        {"table", "message_chats_state"},
        {"view", "attachment_words"},
        {"table", "attachment_names_fts"},
        {"trigger", "attachment_names_fts_insert"},
        {"trigger", "attachment_names_fts_delete"},
        {"trigger", "attachment_names_fts_update"},
        {"table", "message_emoji"},
        {"index", "idx_message_emoji_message"},
        {"trigger", "message_emoji_follow_message"},
        {"table", "spaced_texts"},
        {"view", "spaced_words"},
        {"table", "spaced_fts"},
        {"trigger", "spaced_fts_insert"},
        {"trigger", "spaced_fts_delete"},
        {"trigger", "spaced_texts_follow_message"},
        {"table", "excluded_chats"},
        {"table", "left_out_counts"},
        {"index", "idx_messages_thread"},
        {"table", "vector_model"},
        {"table", "message_vectors"},
        {"trigger", "message_vectors_follow_message"},
        {"trigger", "message_vectors_follow_text"},
    };
    EXPECT_EQ(objects, expected);
    EXPECT_EQ(inspect.value("PRAGMA user_version"), std::to_string(ShadowSchema::latestVersion()));
    EXPECT_EQ(inspect.value("SELECT count(*) FROM sync_source"), "0")
        << "written by the first sync";
    EXPECT_THAT(inspect.rows("SELECT * FROM sync_marks"),
                ElementsAre(ElementsAre("1", "0", "0", "0", "0")));
    EXPECT_THAT(inspect.rows("SELECT * FROM left_out_counts"),
                ElementsAre(ElementsAre("1", "0", "0", "0", "0")));
    EXPECT_THAT(inspect.rows("SELECT id, last_timestamp, last_rowid, message_count, updated_at "
                             "FROM sync_state"),
                ElementsAre(ElementsAre("1", "0", "0", "0", "0")));
    auto watermark = db->lastSyncWatermark();
    EXPECT_EQ(watermark.timestamp, 0);
    EXPECT_EQ(watermark.rowid, 0);
    EXPECT_EQ(db->messageCount(), 0);
}

TEST_F(ShadowDBTest, CreatingTheSchemaAgainChangesNothing) {
    auto db = openWithSchema();
    db->insertBatch({message("a")});
    db->updateSyncState(500, 7, 1);
    Inspector inspect(path);
    auto before = inspect.rows("SELECT type, name, sql FROM sqlite_master ORDER BY name");
    auto stateBefore = inspect.rows("SELECT * FROM sync_state");

    db->createSchemaIfNeeded();
    ShadowDB reopened(path);
    reopened.createSchemaIfNeeded();

    EXPECT_EQ(inspect.rows("SELECT type, name, sql FROM sqlite_master ORDER BY name"), before);
    EXPECT_EQ(inspect.rows("SELECT * FROM sync_state"), stateBefore);
    EXPECT_EQ(reopened.messageCount(), 1);
}

TEST_F(ShadowDBTest, WritingAGuidTwiceKeepsOneRowAndOneIndexEntry) {
    auto db = openWithSchema();
    std::vector<ShadowMessage> batch = {message("g1", "zebra crossing"),
                                        message("g2", "zebra stripes"), message("g3", "lion")};
    EXPECT_EQ(db->insertBatch(batch), 3);
    Inspector inspect(path);
    auto firstRowids = inspect.rows("SELECT rowid FROM messages ORDER BY guid");

    EXPECT_EQ(db->insertBatch(batch), 3);
    EXPECT_EQ(db->messageCount(), 3);
    EXPECT_EQ(inspect.value("SELECT count(DISTINCT guid) || '/' || count(*) FROM messages"), "3/3");
    EXPECT_NE(inspect.rows("SELECT rowid FROM messages ORDER BY guid"), firstRowids)
        << "REPLACE gives each row a new rowid";
    // The replaced rows' entries are gone from the index: every hit is a live
    // row, and the index agrees with the content table.
    EXPECT_EQ(inspect.value("SELECT count(*) FROM messages_fts WHERE messages_fts MATCH 'zebra'"),
              "2");
    EXPECT_EQ(inspect.value("SELECT count(*) FROM messages_fts WHERE messages_fts MATCH 'zebra' "
                            "AND rowid NOT IN (SELECT rowid FROM messages)"),
              "0");
    EXPECT_EQ(inspect.ftsIntegrity(), "ok");
}

TEST_F(ShadowDBTest, EmptyBatchTouchesNothing) {
    auto db = openWithSchema();
    db->close();
    // A closed connection would fail any statement, so 0 here shows that no
    // transaction was opened.
    EXPECT_EQ(db->insertBatch({}), 0);
}

TEST_F(ShadowDBTest, StoresEachFieldAsItsColumn) {
    auto db = openWithSchema();
    ShadowMessage fromMe("g-me", "chat-9", std::string("Family"), "me", "Dinner at 8 🍝", -42, true,
                         false, false, {}, 77);
    ShadowMessage kinds = message("g-kinds", "photo", std::nullopt, {"b", "a", "x\"y"});
    db->insertBatch({fromMe, kinds, message("g-empty-name", "hi", std::string(""))});

    Inspector inspect(path);
    EXPECT_THAT(
        inspect.rows("SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, "
                     "is_group, has_attachments, attachment_types, content_hash, edited_at, "
                     "deleted_at FROM messages ORDER BY guid"),
        ElementsAre(ElementsAre("g-empty-name", "chat-1", "", "+15550001", "hi", "100", "0", "1",
                                "0", "NULL", message("", "hi").contentHash(), "NULL", "NULL"),
                    // Kinds in list order, nothing escaped; the hash sorts them.
                    ElementsAre("g-kinds", "chat-1", "NULL", "+15550001", "photo", "100", "0", "1",
                                "1", "[\"b\",\"a\",\"x\"y\"]", kinds.contentHash(), "NULL", "NULL"),
                    ElementsAre("g-me", "chat-9", "Family", "me", "Dinner at 8 🍝", "-42", "1", "0",
                                "0", "NULL", fromMe.contentHash(), "NULL", "NULL")));
    EXPECT_EQ(inspect.value("SELECT typeof(chat_name) FROM messages WHERE guid = 'g-empty-name'"),
              "text");
    EXPECT_EQ(inspect.value("SELECT typeof(chat_name) FROM messages WHERE guid = 'g-kinds'"),
              "null");
    EXPECT_EQ(kinds.contentHash(),
              message("", "photo", std::nullopt, {"a", "b", "x\"y"}).contentHash());
}

TEST_F(ShadowDBTest, FailedInsertRollsTheWholeBatchBack) {
    auto db = openWithSchema();
    db->insertBatch({message("kept")});
    Inspector inspect(path);
    inspect.exec("CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN new.guid = 'bad' "
                 "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    try {
        db->insertBatch({message("first"), message("bad"), message("last")});
        FAIL() << "expected insertFailed";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::insertFailed);
        EXPECT_STREQ(error.what(), "Insert failed: Failed on guid=bad: refused");
    }
    EXPECT_THAT(inspect.rows("SELECT guid FROM messages"), ElementsAre(ElementsAre("kept")));
    EXPECT_EQ(inspect.ftsIntegrity(), "ok");
    // The connection is usable again: the failed batch left no transaction.
    EXPECT_EQ(db->insertBatch({message("after")}), 1);
    EXPECT_EQ(db->messageCount(), 2);
}

TEST_F(ShadowDBTest, CountGrowthSeparatesNewFromReplacedRows) {
    auto db = openWithSchema();
    db->insertBatch({message("live"), message("gone")});
    Inspector inspect(path);
    inspect.exec("UPDATE messages SET deleted_at = 1 WHERE guid = 'gone'");
    ASSERT_EQ(db->messageCount(), 1);

    // "live" replaces a live copy (no growth), "gone" brings a deleted one
    // back, "new" appears twice in the batch (a message in two chats).
    auto result = orlune::testing::insertCountingGrowth(
        *db, {message("live"), message("gone"), message("new"), message("new")});
    EXPECT_EQ(result.written, 4);
    EXPECT_EQ(result.countGrowth, 2);
    EXPECT_EQ(db->messageCount(), 1 + result.countGrowth);
}

TEST_F(ShadowDBTest, CountIgnoresDeletedRows) {
    auto db = openWithSchema();
    db->insertBatch({message("a"), message("b"), message("c")});
    Inspector(path).exec("UPDATE messages SET deleted_at = 5 WHERE guid = 'b'");
    EXPECT_EQ(db->messageCount(), 2);
}

TEST_F(ShadowDBTest, SyncStateHoldsTheCursorAndWholeSeconds) {
    auto db = openWithSchema();
    using namespace std::chrono;
    auto now = [] {
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    };
    int64_t before = now();
    db->updateSyncState(INT64_C(700000000000000000), 42, 9);
    int64_t after = now();

    auto watermark = db->lastSyncWatermark();
    EXPECT_EQ(watermark.timestamp, INT64_C(700000000000000000));
    EXPECT_EQ(watermark.rowid, 42);
    Inspector inspect(path);
    EXPECT_EQ(inspect.value("SELECT typeof(updated_at) FROM sync_state"), "integer");
    int64_t updatedAt = std::stoll(inspect.value("SELECT updated_at FROM sync_state"));
    EXPECT_GE(updatedAt, before);
    EXPECT_LE(updatedAt, after);
    EXPECT_EQ(inspect.value("SELECT message_count FROM sync_state"), "9");
}

TEST_F(ShadowDBTest, ChatParticipantsAreReplacedWhole) {
    auto db = openWithSchema();
    db->replaceChatParticipants({
        ChatParticipant{"chat-a", 7, "+1555007", std::string("iMessage")},
        ChatParticipant{"chat-a", 3, "pat@example.com", std::nullopt},
        ChatParticipant{"chat-b", 3, "pat@example.com", std::string("SMS")},
    });
    EXPECT_THAT(db->fetchChatParticipants("chat-a"),
                ElementsAre(ChatParticipant{"chat-a", 3, "pat@example.com", std::nullopt},
                            ChatParticipant{"chat-a", 7, "+1555007", std::string("iMessage")}));
    EXPECT_TRUE(db->fetchChatParticipants("chat-zzz").empty());

    db->replaceChatParticipants({ChatParticipant{"chat-c", 1, "x", std::nullopt}});
    EXPECT_TRUE(db->fetchChatParticipants("chat-a").empty());
    EXPECT_EQ(db->fetchChatParticipants("chat-c").size(), 1u);

    db->replaceChatParticipants({});
    EXPECT_EQ(Inspector(path).value("SELECT count(*) FROM chat_participants"), "0");
}

TEST_F(ShadowDBTest, DuplicateParticipantFailsAndKeepsTheOldMembership) {
    auto db = openWithSchema();
    std::vector<ChatParticipant> old = {ChatParticipant{"chat-a", 1, "one", std::nullopt}};
    db->replaceChatParticipants(old);
    try {
        db->replaceChatParticipants({ChatParticipant{"chat-b", 2, "two", std::nullopt},
                                     ChatParticipant{"chat-b", 2, "two again", std::nullopt}});
        FAIL() << "expected insertFailed";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::insertFailed);
        EXPECT_EQ(std::string(error.what()),
                  "Insert failed: UNIQUE constraint failed: chat_participants.chat_id, "
                  "chat_participants.handle_id");
    }
    EXPECT_EQ(db->fetchChatParticipants("chat-a"), old);
    EXPECT_TRUE(db->fetchChatParticipants("chat-b").empty());
    db->replaceChatParticipants({}); // no transaction was left open
}

TEST_F(ShadowDBTest, ErrorsCarryTheirKindAndDescription) {
    struct Case {
        const char* name;
        std::function<void()> run;
        ShadowDB::Error::Kind kind;
        std::string description;
    };
    std::string unschemed = dir.file("never-synced.db");
    Case cases[] = {
        {"open in a missing folder", [&] { ShadowDB db(dir.file("missing/folder/shadow.db")); },
         ShadowDB::Error::Kind::failedToOpen,
         "Failed to open database: the folder " + dir.file("missing/folder") +
             " of the shadow database " + dir.file("missing/folder/shadow.db") +
             " does not exist (No such file or directory): create it, or set SHADOW_DB_PATH to a "
             "file in a folder you can write"},
        {"count without schema", [&] { ShadowDB(unschemed).messageCount(); },
         ShadowDB::Error::Kind::prepareFailed,
         "Statement preparation failed: no such table: messages"},
        {"cursor without schema", [&] { ShadowDB(unschemed).lastSyncWatermark(); },
         ShadowDB::Error::Kind::prepareFailed,
         "Statement preparation failed: no such table: sync_state"},
        {"insert without schema", [&] { ShadowDB(unschemed).insertBatch({message("a")}); },
         ShadowDB::Error::Kind::prepareFailed,
         "Statement preparation failed: no such table: messages"},
        {"participants without schema", [&] { ShadowDB(unschemed).replaceChatParticipants({}); },
         ShadowDB::Error::Kind::queryFailed, "Query failed: no such table: chat_participants"},
        {"not a database",
         [&] {
             orlune::testing::writeFile(dir.file("text.db"), std::string(8192, 'x'));
             ShadowDB(dir.file("text.db"));
         },
         ShadowDB::Error::Kind::failedToOpen,
         "Failed to open database: file is not a database: " + dir.file("text.db") +
             " is not a shadow database; it was left as it was"},
        {"closed",
         [&] {
             ShadowDB db(path);
             db.close();
             db.close();
             db.messageCount();
         },
         ShadowDB::Error::Kind::prepareFailed, "Statement preparation failed: Database is closed"},
    };
    for (const Case& c : cases) {
        try {
            c.run();
            ADD_FAILURE() << c.name << ": nothing thrown";
        } catch (const ShadowDB::Error& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.name;
            EXPECT_EQ(std::string(error.what()), c.description) << c.name;
        }
    }
}

// Reads that used to stop at a failed step and answer with what they had (a
// count of 0, a cursor of (0, 0), a short member list, fewer hits): on a
// damaged file each one is an error that names the damage.
TEST_F(ShadowDBTest, EveryReadOfADamagedFileFailsInsteadOfAnsweringShort) {
    {
        auto db = openWithSchema();
        std::vector<ShadowMessage> batch;
        for (int i = 0; i < 2000; ++i) {
            batch.push_back(message(std::to_string(i), "some words " + std::string(300, 'w')));
        }
        db->insertBatch(batch);
        std::vector<ChatParticipant> members;
        for (int i = 0; i < 600; ++i) {
            members.push_back(ChatParticipant{
                "big-chat", i, "member" + std::to_string(i) + std::string(100, 'm'), std::nullopt});
        }
        db->replaceChatParticipants(members);
        db->updateSyncState(500, 7, 2000);
    }
    {
        Inspector inspect(path);
        for (const char* btree : {"messages", "chat_participants", "sync_state", "sync_marks"}) {
            const std::vector<int64_t> leaves = inspect.leafPages(btree);
            ASSERT_FALSE(leaves.empty()) << btree;
            orlune::testing::damagePage(path, leaves[leaves.size() / 2]);
        }
    }
    ShadowDBReader db(path);
    const std::pair<const char*, std::function<void()>> reads[] = {
        {"messageCount", [&] { db.messageCount(); }},
        {"lastSyncWatermark", [&] { db.lastSyncWatermark(); }},
        {"syncMarks", [&] { db.syncMarks(); }},
        {"fetchChatParticipants", [&] { db.fetchChatParticipants("big-chat"); }},
        {"search", [&] { db.search("words", -1); }},
        {"executeReadOnly", [&] { db.executeReadOnly("SELECT guid, text FROM messages", 5000); }},
    };
    for (const auto& [name, read] : reads) {
        try {
            read();
            ADD_FAILURE() << name << " answered";
        } catch (const ShadowDB::Error& error) {
            EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::queryFailed) << name;
            EXPECT_THAT(error.what(), ::testing::HasSubstr("database disk image is malformed"))
                << name;
            EXPECT_THAT(error.what(), ::testing::HasSubstr("(the shadow database " + path +
                                                           " is damaged; delete it and sync "
                                                           "again to rebuild it)"))
                << name;
        }
    }
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Sets the process's umask for the lifetime of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

private:
    mode_t previous_;
};

TEST_F(ShadowDBTest, FilesAreOwnerOnlyWhateverTheUmask) {
    ScopedUmask loose(022);
    {
        auto db = openWithSchema();
        db->insertBatch({message("a")});
        ASSERT_TRUE(std::filesystem::exists(path + "-wal"));
        for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
            EXPECT_EQ(modeOf(file), 0600u) << file;
        }
    }
    // A database made by an older version under a loose umask is tightened
    // when it is next opened for writing.
    ::chmod(path.c_str(), 0644);
    ShadowDB reopened(path);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(reopened.messageCount(), 1);
}

// A database the sync cannot write is refused at open naming the file, the
// cause and the way out, instead of SQLite's "unable to open database file".
// (A folder that does not exist: ErrorsCarryTheirKindAndDescription.)
// Permissions do not bind root, so this runs only for another user.
TEST_F(ShadowDBTest, AFileOrFolderThatCannotBeWrittenIsNamedWithItsCause) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    struct Case {
        const char* name;
        std::string path;
        std::function<void()> arrange;
        std::vector<std::string> said;
    };
    const std::string lockedFolder = dir.file("locked");
    const std::string readOnlyFile = dir.file("readonly/shadow.db");
    const Case cases[] = {
        {"a new database in a read-only folder",
         lockedFolder + "/shadow.db",
         [&] {
             std::filesystem::create_directories(lockedFolder);
             ::chmod(lockedFolder.c_str(), 0500);
         },
         {"its folder " + lockedFolder + " does not let Orlune make files in it",
          "Permission denied", "chmod u+w " + lockedFolder, "SHADOW_DB_PATH"}},
        {"a read-only database",
         readOnlyFile,
         [&] {
             std::filesystem::create_directories(dir.file("readonly"));
             ShadowDB(readOnlyFile).createSchemaIfNeeded();
             ::chmod(readOnlyFile.c_str(), 0400);
         },
         {"the shadow database " + readOnlyFile + " cannot be written", "Permission denied",
          "chmod u+w " + readOnlyFile}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        try {
            ShadowDB db(c.path);
            ADD_FAILURE() << "opened";
        } catch (const ShadowDB::Error& error) {
            EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::failedToOpen);
            for (const std::string& part : c.said) {
                EXPECT_THAT(error.what(), ::testing::HasSubstr(part));
            }
        }
        EXPECT_FALSE(std::filesystem::exists(c.path + "-wal"));
    }
    ::chmod(lockedFolder.c_str(), 0700);
}

TEST(ShadowDBDefaultPath, ThePathHonoursTheVariableAndCreatesNothing) {
    TempDir dir;
    FakeEnvironment environment;
    environment.dataFolder = dir.file("data");

    environment.variables["SHADOW_DB_PATH"] = "";
    EXPECT_EQ(ShadowDB::shadowDBPath(environment), "") << "taken exactly as set";
    environment.variables["SHADOW_DB_PATH"] = "relative/x.db";
    EXPECT_EQ(ShadowDB::shadowDBPath(environment), "relative/x.db");
    EXPECT_EQ(ShadowDB::prepareShadowFolder(environment), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(dir.file("data")));

    environment.variables.clear();
    EXPECT_EQ(ShadowDB::shadowDBPath(environment), dir.file("data") + "/OrluneRLM/shadow.db");
    EXPECT_FALSE(std::filesystem::exists(dir.file("data")));
}

TEST(ShadowDBDefaultPath, PreparingMakesTheFoldersOwnerOnlyAndReportsWhatStopsIt) {
    TempDir dir;
    ScopedUmask loose(022);
    FakeEnvironment environment;
    environment.dataFolder = dir.file("data");
    EXPECT_EQ(ShadowDB::prepareShadowFolder(environment), std::nullopt);
    EXPECT_EQ(modeOf(dir.file("data")), 0700u);
    EXPECT_EQ(modeOf(dir.file("data") + "/OrluneRLM"), 0700u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("data") + "/OrluneRLM/shadow.db"));
    EXPECT_EQ(ShadowDB::prepareShadowFolder(environment), std::nullopt) << "again: nothing to do";
    ShadowDB db(std::nullopt, environment);
    EXPECT_EQ(db.databasePath(), dir.file("data") + "/OrluneRLM/shadow.db");

    // A file where the folder should be: the reason, and a writer that says it.
    FakeEnvironment blocked;
    blocked.dataFolder = dir.file("blocked");
    orlune::testing::writeFile(dir.file("blocked"), "");
    const auto problem = ShadowDB::prepareShadowFolder(blocked);
    ASSERT_TRUE(problem.has_value());
    EXPECT_THAT(*problem, ::testing::HasSubstr("Could not create the folder " +
                                               dir.file("blocked") + "/OrluneRLM"));
    try {
        ShadowDB refused(std::nullopt, blocked);
        FAIL() << "expected failedToOpen";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::failedToOpen);
        EXPECT_THAT(error.what(), ::testing::HasSubstr(*problem));
    }
}

// `orlune sync` used to write <data>/Orlune/shadow.db. That copy is moved to
// the one default when nothing is there yet, so that nothing is copied
// again; otherwise it is left alone.
TEST(ShadowDBDefaultPath, ADatabaseAtTheOldDefaultIsMovedIntoPlaceOnce) {
    struct Case {
        const char* name;
        bool newOneExists;
        bool oldOneInUse;
        bool moved;
        const char* failure; // part of the reason it was not moved
    };
    const Case cases[] = {
        {"only the old one", false, false, true, ""},
        {"both", true, false, false, ""},
        {"the old one in use", false, true, false, "is in use"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedUmask loose(022);
        FakeEnvironment environment;
        environment.dataFolder = dir.file("data");
        const std::string oldPath = dir.file("data/Orlune/shadow.db");
        const std::string newPath = dir.file("data/OrluneRLM/shadow.db");
        std::filesystem::create_directories(dir.file("data/Orlune"));
        {
            ShadowDB old(oldPath);
            old.createSchemaIfNeeded();
            old.insertBatch({message("kept")});
        }
        // The last page only in the -wal, as a process that ended without
        // its final checkpoint leaves it.
        {
            sqlite::Connection writer;
            ASSERT_EQ(writer.open(oldPath, SQLITE_OPEN_READWRITE), SQLITE_OK);
            sqlite3_db_config(writer.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
            writer.exec("INSERT INTO messages (guid, chat_id, sender, text, timestamp, is_from_me, "
                        "is_group) VALUES ('only-in-wal', 'c', 's', 'late words', 1, 0, 0)");
        }
        ::chmod(oldPath.c_str(), 0644);
        ASSERT_GT(std::filesystem::file_size(oldPath + "-wal"), 0u);
        std::string newBefore;
        if (c.newOneExists) {
            std::filesystem::create_directories(dir.file("data/OrluneRLM"));
            ShadowDB(newPath).createSchemaIfNeeded();
            newBefore = orlune::testing::readFile(newPath);
        }
        std::optional<Inspector> user;
        if (c.oldOneInUse) {
            user.emplace(oldPath);
            user->value("SELECT count(*) FROM messages");
        }

        const std::string failure = ShadowDB::prepareShadowFolder(environment).value_or("");
        EXPECT_EQ(ShadowDB::shadowDBPath(environment), newPath);
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        if (c.moved) {
            EXPECT_EQ(failure, "");
            for (const char* file : {"", "-wal", "-shm"}) {
                EXPECT_FALSE(std::filesystem::exists(oldPath + file)) << file;
            }
            EXPECT_EQ(modeOf(newPath), 0600u);
            ShadowDBReader moved(newPath);
            EXPECT_EQ(moved.messageCount(), 2);
            EXPECT_EQ(moved.search("late", 10).size(), 1u);
        } else {
            EXPECT_TRUE(std::filesystem::exists(oldPath));
            if (c.newOneExists) {
                EXPECT_EQ(orlune::testing::readFile(newPath), newBefore);
            } else {
                EXPECT_FALSE(std::filesystem::exists(newPath));
            }
        }
    }
}

} // namespace
} // namespace orlune::core
