#include "OrluneCore/ShadowSync.hpp"

#include "OrluneCore/ChatDBReader.hpp"
#include "OrluneCore/ShadowDB.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>

namespace orlune::core {
namespace {

using orlune::samplestore::ChatRow;
using orlune::samplestore::ChatStoreWriter;
using orlune::samplestore::HandleRow;
using orlune::samplestore::MessageRow;
using orlune::samplestore::TypedStreamWriter;
using orlune::testing::ScopedEnv;
using orlune::testing::TempDir;
using ::testing::ElementsAre;

using Inspector = orlune::testing::DatabaseProbe;
using orlune::testing::FakeEnvironment;

// Handles 1 and 2; chat 1 a named group of both, chat 2 a one-to-one chat
// with handle 1.
void addPeopleAndChats(ChatStoreWriter& store) {
    store.addHandle(HandleRow{1, std::string("+15550001"), std::string("iMessage")});
    store.addHandle(HandleRow{2, std::string("pat@example.com"), std::nullopt});
    store.addChat(ChatRow{1, "iMessage;+;chat100", std::string("Climbing"),
                          samplestore::kGroupChatStyle, "chat100"});
    store.addChat(ChatRow{2, "iMessage;-;+15550001", std::nullopt, samplestore::kDirectChatStyle,
                          "+15550001"});
    store.addChatMember(1, 1);
    store.addChatMember(1, 2);
    store.addChatMember(2, 1);
}

// `count` plain-text messages from handle 1 in chat 2, ROWIDs from
// `firstRowid`, each with `date(rowid)`.
void addTextMessages(ChatStoreWriter& store, int64_t firstRowid, int count,
                     const std::function<int64_t(int64_t)>& date,
                     const std::string& prefix = "message") {
    store.beginTransaction();
    for (int64_t rowid = firstRowid; rowid < firstRowid + count; ++rowid) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = "guid-" + std::to_string(rowid);
        row.text = prefix + " " + std::to_string(rowid);
        row.date = date(rowid);
        row.handleId = 1;
        store.addMessage(row);
        store.joinMessageToChat(rowid, 2, row.date);
    }
    store.commit();
}

// Messages with no text anywhere: the reader drops them.
void addEmptyMessages(ChatStoreWriter& store, int64_t firstRowid, int count,
                      const std::function<int64_t(int64_t)>& date) {
    store.beginTransaction();
    for (int64_t rowid = firstRowid; rowid < firstRowid + count; ++rowid) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = "empty-" + std::to_string(rowid);
        row.date = date(rowid);
        row.handleId = 1;
        store.addMessage(row);
    }
    store.commit();
}

class ShadowSyncTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env;
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");

    void SetUp() override {
        env.set("HOME", dir.path().string());
        env.set("XDG_DATA_HOME", dir.file("data"));
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        env.set("CHAT_DB_PATH", std::nullopt);
        env.set("SHADOW_DB_PATH", std::nullopt);
    }

    ShadowSync engine() { return ShadowSync(storePath, shadowPath); }

    // (last_timestamp, last_rowid, message_count) of sync_state.
    std::vector<std::string> syncState() {
        return Inspector(shadowPath)
            .rows("SELECT last_timestamp, last_rowid, message_count FROM sync_state")
            .at(0);
    }
};

TEST_F(ShadowSyncTest, FirstPassCopiesEveryKeptMessageAndTheMembership) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        // text only; archive only; both (text wins); neither (dropped); from
        // me; in no chat; in two chats; unknown handle.
        store.addMessage(
            {1, std::string("m1"), std::string("plain text"), std::nullopt, 10, false, 1});
        store.addMessage({2, std::string("m2"), std::nullopt,
                          TypedStreamWriter::attributedBody("only in the archive 🧗"), 20, false,
                          2});
        store.addMessage({3, std::string("m3"), std::string("the text column"),
                          TypedStreamWriter::attributedBody("the archive"), 30, false, 1});
        store.addMessage({4, std::string("m4"), std::nullopt, std::nullopt, 40, false, 1});
        store.addMessage({5, std::string("m5"), std::string("from me"), std::nullopt, 50, true, 1});
        store.addMessage(
            {6, std::string("m6"), std::string("no chat"), std::nullopt, 60, false, 1});
        store.addMessage(
            {7, std::string("m7"), std::string("two chats"), std::nullopt, 70, false, 2});
        store.addMessage(
            {8, std::string("m8"), std::string("nobody"), std::nullopt, 80, false, 99});
        store.addMessage({9, std::string("m9"), std::nullopt, std::nullopt, 90, false, 1});
        for (int64_t rowid : {1, 2, 3, 4, 5, 8, 9}) {
            store.joinMessageToChat(rowid, rowid % 2 == 0 ? 1 : 2);
        }
        store.joinMessageToChat(7, 1);
        store.joinMessageToChat(7, 2);
    }

    ShadowSync sync = engine();
    // m7 is written twice (once per chat); m4 and m9 are dropped.
    EXPECT_EQ(sync.performSync(), 8);
    EXPECT_EQ(sync.messageCount(), 7);

    Inspector shadow(shadowPath);
    EXPECT_THAT(
        shadow.rows("SELECT guid, chat_id, ifnull(chat_name, 'NULL'), sender, text, "
                    "timestamp, is_from_me, is_group FROM messages ORDER BY guid"),
        ElementsAre(
            ElementsAre("m1", "iMessage;-;+15550001", "NULL", "+15550001", "plain text", "10", "0",
                        "0"),
            ElementsAre("m2", "iMessage;+;chat100", "Climbing", "pat@example.com",
                        "only in the archive 🧗", "20", "0", "1"),
            ElementsAre("m3", "iMessage;-;+15550001", "NULL", "+15550001", "the text column", "30",
                        "0", "0"),
            ElementsAre("m5", "iMessage;-;+15550001", "NULL", "me", "from me", "50", "1", "0"),
            ElementsAre("m6", "unknown", "NULL", "+15550001", "no chat", "60", "0", "0"),
            ::testing::SizeIs(8), // m7: whichever chat row came last
            ElementsAre("m8", "iMessage;+;chat100", "Climbing", "unknown", "nobody", "80", "0",
                        "1")));
    // The cursor is the last row read, even though that row was dropped.
    EXPECT_THAT(syncState(), ElementsAre("90", "9", "7"));

    ShadowDB db(shadowPath);
    EXPECT_THAT(
        db.fetchChatParticipants("iMessage;+;chat100"),
        ElementsAre(ChatParticipant{"iMessage;+;chat100", 1, "+15550001", "iMessage"},
                    ChatParticipant{"iMessage;+;chat100", 2, "pat@example.com", std::nullopt}));
}

TEST_F(ShadowSyncTest, SecondPassWritesNothingButRefreshesMembership) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 25, [](int64_t rowid) { return rowid * 10; });
    }
    ShadowSync sync = engine();
    ASSERT_EQ(sync.performSync(), 25);
    auto stateBefore = Inspector(shadowPath).rows("SELECT * FROM sync_state");

    Inspector(storePath).exec("DELETE FROM chat_handle_join WHERE chat_id = 1 AND handle_id = 2");
    EXPECT_EQ(sync.performSync(), 0);
    EXPECT_EQ(Inspector(shadowPath).rows("SELECT * FROM sync_state"), stateBefore)
        << "a pass with nothing new leaves the cursor, count and time alone";
    EXPECT_EQ(ShadowDB(shadowPath).fetchChatParticipants("iMessage;+;chat100").size(), 1u);
    EXPECT_EQ(sync.messageCount(), 25);
}

TEST_F(ShadowSyncTest, CursorFollowsDateThenRowid) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        // ROWIDs out of date order, and a run of equal dates.
        addTextMessages(store, 1, 3, [](int64_t) { return 500; });
        addTextMessages(store, 4, 1, [](int64_t) { return 100; });
    }
    ShadowSync sync = engine();
    EXPECT_EQ(sync.performSync(), 4);
    EXPECT_THAT(syncState(), ElementsAre("500", "3", "4"));

    {
        Inspector store(storePath);
        // Same date as the cursor: after it only with a greater ROWID.
        store.exec("INSERT INTO message (ROWID, guid, text, date, is_from_me, handle_id) VALUES "
                   "(10, 'same-date-later', 'a', 500, 0, 1),"
                   "(11, 'later-date', 'b', 501, 0, 1)");
        // Before the cursor in (date, ROWID) order, with a higher ROWID (a
        // row restored with its old date): the cursor does not reach it, the
        // ROWID mark does, and the cursor stays where the dates put it.
        store.exec("INSERT INTO message (ROWID, guid, text, date, is_from_me, handle_id) VALUES "
                   "(12, 'earlier-date', 'c', 499, 0, 1)");
    }
    EXPECT_EQ(sync.performSync(), 3);
    EXPECT_THAT(syncState(), ElementsAre("501", "11", "7"));
    EXPECT_EQ(
        Inspector(shadowPath).value("SELECT count(*) FROM messages WHERE guid = 'earlier-date'"),
        "1");
}

TEST_F(ShadowSyncTest, PagesOfTenThousandRowsEndOnAShortPage) {
    // Every size around the page boundary; all dates equal so the cursor
    // crosses pages on ROWID alone.
    for (int size : {9999, 10000, 10001, 20000}) {
        SCOPED_TRACE(size);
        TempDir local;
        std::string store = local.file("chat.db");
        std::string shadow = local.file("shadow.db");
        {
            ChatStoreWriter writer(store);
            addPeopleAndChats(writer);
            addTextMessages(writer, 1, size, [](int64_t) { return 7; });
        }
        std::vector<int64_t> progress;
        ShadowSync sync(store, shadow);
        EXPECT_EQ(sync.performSync([&](int64_t rows) { progress.push_back(rows); }), size);
        EXPECT_EQ(sync.messageCount(), size);
        EXPECT_EQ(
            Inspector(shadow).value("SELECT last_rowid || '/' || message_count FROM sync_state"),
            std::to_string(size) + "/" + std::to_string(size));
        // One report per page written; a full last page is followed by an
        // empty fetch, which writes and reports nothing.
        std::vector<int64_t> expected;
        for (int64_t read = 10000; read < size + 10000; read += 10000) {
            expected.push_back(std::min<int64_t>(read, size));
        }
        EXPECT_EQ(progress, expected);
        EXPECT_EQ(sync.performSync(), 0);
    }
}

TEST_F(ShadowSyncTest, APageOfOnlyDroppedRowsStillMovesTheCursor) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addEmptyMessages(store, 1, 10000, [](int64_t rowid) { return rowid; });
        addTextMessages(store, 10001, 3, [](int64_t rowid) { return rowid; });
    }
    ShadowSync sync = engine();
    EXPECT_EQ(sync.performSync(), 3);
    EXPECT_THAT(syncState(), ElementsAre("10003", "10003", "3"));

    // A store holding nothing but dropped rows: the cursor moves and the
    // count (0) is stored.
    TempDir other;
    {
        ChatStoreWriter store(other.file("chat.db"));
        addEmptyMessages(store, 1, 5, [](int64_t rowid) { return rowid * 2; });
    }
    ShadowSync empty(other.file("chat.db"), other.file("shadow.db"));
    EXPECT_EQ(empty.performSync(), 0);
    EXPECT_EQ(
        Inspector(other.file("shadow.db"))
            .value("SELECT last_timestamp || '/' || last_rowid || '/' || message_count || '/' "
                   "|| (updated_at > 0) FROM sync_state"),
        "10/5/0/1");
}

TEST_F(ShadowSyncTest, AnInterruptedPassResumesAfterTheLastCommittedPage) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 25000, [](int64_t rowid) { return 1000 + rowid; });
    }
    // Make the second page fail on the shadow side.
    {
        ShadowDB db(shadowPath);
        db.createSchemaIfNeeded();
    }
    Inspector(shadowPath)
        .exec("CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN new.guid = 'guid-15000' "
              "BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");

    ShadowSync sync = engine();
    try {
        sync.performSync();
        FAIL() << "expected the second page to fail";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::insertFailed);
        EXPECT_STREQ(error.what(), "Insert failed: Failed on guid=guid-15000: disk trouble");
    }
    EXPECT_EQ(sync.messageCount(), 10000);
    EXPECT_THAT(syncState(), ElementsAre("11000", "10000", "10000"));

    Inspector(shadowPath).exec("DROP TRIGGER refuse");
    EXPECT_EQ(sync.performSync(), 15000) << "the committed page is not written again";
    EXPECT_EQ(sync.messageCount(), 25000);
    EXPECT_THAT(syncState(), ElementsAre("26000", "25000", "25000"));
}

TEST_F(ShadowSyncTest, ARestartAfterACommittedPageButBeforeItsCursorKeepsOneRowPerGuid) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 30, [](int64_t rowid) { return rowid; });
    }
    ShadowSync sync = engine();
    ASSERT_EQ(sync.performSync(), 30);
    // As if the process had stopped between a page's commit and its cursor.
    ShadowDB(shadowPath).updateSyncState(0, 0, 0);
    EXPECT_EQ(sync.performSync(), 30);
    EXPECT_EQ(sync.messageCount(), 30);
    EXPECT_THAT(syncState(), ElementsAre("30", "30", "30"));
}

TEST_F(ShadowSyncTest, TheStoreIsLeftByteForByteAsItWas) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 12000, [](int64_t rowid) { return rowid / 3; });
    }
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    std::string before = orlune::testing::readFile(storePath);
    auto modified = std::filesystem::last_write_time(storePath);
    ShadowSync sync = engine();
    ASSERT_EQ(sync.performSync(), 12000);
    EXPECT_TRUE(orlune::testing::readFile(storePath) == before);
    EXPECT_EQ(std::filesystem::last_write_time(storePath), modified);
    for (const auto& name : listing()) {
        EXPECT_EQ(name.rfind("chat.db-", 0), std::string::npos)
            << "left beside the store: " << name;
    }
}

TEST_F(ShadowSyncTest, MissingStoreIsReportedBeforeAnythingIsTouched) {
    ShadowSync sync(dir.file("nowhere/chat.db"), shadowPath);
    try {
        sync.performSync();
        FAIL() << "expected chatDBNotFound";
    } catch (const ShadowSyncError& error) {
        EXPECT_EQ(error.kind(), ShadowSyncError::Kind::chatDBNotFound);
        EXPECT_STREQ(error.what(),
                     "iMessage database not found. Ensure Full Disk Access is granted.");
    }
    EXPECT_FALSE(std::filesystem::exists(shadowPath));
    EXPECT_STREQ(ShadowSyncError(ShadowSyncError::Kind::syncFailed, "boom").what(),
                 "Sync failed: boom");
}

TEST_F(ShadowSyncTest, CountingANeverSyncedFileFails) {
    ShadowDB(shadowPath).close(); // an empty database file, no schema
    try {
        engine().messageCount();
        FAIL() << "expected prepareFailed";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::prepareFailed);
    }
}

TEST_F(ShadowSyncTest, AStoreThatIsNotADatabaseFailsWithTheReadersError) {
    orlune::testing::writeFile(storePath, std::string(4096, 'x'));
    try {
        engine().performSync();
        FAIL() << "expected an error";
    } catch (const ChatDBReader::Error& error) {
        EXPECT_EQ(error.kind(), ChatDBReader::Error::Kind::failedToOpen);
        EXPECT_EQ(std::string(error.what()), "Failed to open database: file is not a database: " +
                                                 storePath + " is not an SQLite database");
    }
}

TEST_F(ShadowSyncTest, AStoreCorruptedPartWayKeepsThePagesBeforeTheDamage) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(
            store, 1, 30000, [](int64_t rowid) { return rowid; }, std::string(200, 'x'));
    }
    // Overwrite one leaf page of the message table far into the ROWID order.
    int64_t pageSize = 0;
    int64_t pageNumber = 0;
    {
        Inspector store(storePath);
        pageSize = std::stoll(store.value("PRAGMA page_size"));
        auto leaves = store.rows("SELECT pageno FROM dbstat WHERE name = 'message' "
                                 "AND pagetype = 'leaf' ORDER BY path");
        ASSERT_GT(leaves.size(), 10u);
        pageNumber = std::stoll(leaves[leaves.size() * 3 / 4][0]);
    }
    std::string bytes = orlune::testing::readFile(storePath);
    std::fill_n(bytes.begin() + (pageNumber - 1) * pageSize, pageSize, '\xAB');
    orlune::testing::writeFile(storePath, bytes);

    ShadowSync sync = engine();
    try {
        sync.performSync();
        FAIL() << "expected the damage to be reported";
    } catch (const ChatDBReader::Error& error) {
        EXPECT_EQ(error.kind(), ChatDBReader::Error::Kind::queryFailed);
        EXPECT_STREQ(error.what(), "Query failed: database disk image is malformed");
    }
    // Whole pages before the damage are kept, with the cursor after them.
    int64_t kept = sync.messageCount();
    EXPECT_GT(kept, 0);
    EXPECT_EQ(kept % 10000, 0);
    EXPECT_THAT(syncState(),
                ElementsAre(std::to_string(kept), std::to_string(kept), std::to_string(kept)));
}

TEST(ShadowSyncPaths, AbsentPathsTakeTheDefaultsOnceAtConstruction) {
    TempDir dir;
    FakeEnvironment environment;
    environment.home = dir.file("home");
    environment.dataFolder = dir.file("data");

    ShadowSync defaults(std::nullopt, std::nullopt, environment);
    EXPECT_EQ(defaults.sourceDatabasePath(), dir.file("home") + "/Library/Messages/chat.db");
    EXPECT_EQ(defaults.databasePath(), dir.file("data") + "/OrluneRLM/shadow.db");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("data") + "/OrluneRLM"));

    environment.variables = {{"CHAT_DB_PATH", "/elsewhere/chat.db"},
                             {"SHADOW_DB_PATH", "/elsewhere/shadow.db"}};
    ShadowSync fromVariables(std::nullopt, std::nullopt, environment);
    EXPECT_EQ(fromVariables.sourceDatabasePath(), "/elsewhere/chat.db");
    EXPECT_EQ(fromVariables.databasePath(), "/elsewhere/shadow.db");
    EXPECT_EQ(defaults.databasePath(), dir.file("data") + "/OrluneRLM/shadow.db");

    ShadowSync given("a.db", "b.db", environment);
    EXPECT_EQ(given.sourceDatabasePath(), "a.db");
    EXPECT_EQ(given.databasePath(), "b.db");
}

} // namespace
} // namespace orlune::core
