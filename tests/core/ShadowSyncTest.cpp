#include "sync/ShadowSync.hpp"

#include "shadow/SearchIndexRepair.hpp"
#include "shadow/ShadowDB.hpp"
#include "store/ChatDBReader.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/FaultyDisk.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <condition_variable>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

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
    // One transaction of pages, then a page and a half more; a page that
    // fails takes the pages of its transaction with it.
    constexpr int kCommitted = ShadowSync::kPagesPerTransaction * ShadowSync::kBatchSize;
    constexpr int kRest = ShadowSync::kBatchSize * 3 / 2;
    const std::string failing = "guid-" + std::to_string(kCommitted + 5000);
    auto state = [](int rows) {
        return ElementsAre(std::to_string(1000 + rows), std::to_string(rows), std::to_string(rows));
    };
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, kCommitted + kRest, [](int64_t rowid) { return 1000 + rowid; });
    }
    // Make a page of the second transaction fail on the shadow side.
    {
        ShadowDB db(shadowPath);
        db.createSchemaIfNeeded();
    }
    Inspector(shadowPath)
        .exec("CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN new.guid = '" + failing +
              "' BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");

    ShadowSync sync = engine();
    try {
        sync.performSync();
        FAIL() << "expected a page of the second transaction to fail";
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::insertFailed);
        EXPECT_EQ(std::string(error.what()),
                  "Insert failed: Failed on guid=" + failing + ": disk trouble");
    }
    EXPECT_EQ(sync.messageCount(), kCommitted);
    EXPECT_THAT(syncState(), state(kCommitted));

    Inspector(shadowPath).exec("DROP TRIGGER refuse");
    EXPECT_EQ(sync.performSync(), kRest) << "the committed pages are not written again";
    EXPECT_EQ(sync.messageCount(), kCommitted + kRest);
    EXPECT_THAT(syncState(), state(kCommitted + kRest));
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
    const std::vector<int64_t> leaves = Inspector(storePath).leafPages("message");
    ASSERT_GT(leaves.size(), 10u);
    orlune::testing::damagePage(storePath, leaves[leaves.size() * 3 / 4]);

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

// `count` messages from handle 1 in chat 2 with guids "<prefix>-<rowid>",
// ROWIDs from 1, dated `firstDate` + rowid.
void addMessagesOfAStore(ChatStoreWriter& store, const std::string& prefix, int count,
                         int64_t firstDate) {
    store.beginTransaction();
    for (int64_t rowid = 1; rowid <= count; ++rowid) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = prefix + "-" + std::to_string(rowid);
        row.text = prefix + " says " + std::to_string(rowid);
        row.date = firstDate + rowid;
        row.handleId = 1;
        store.addMessage(row);
        store.joinMessageToChat(rowid, 2, row.date);
    }
    store.commit();
}

// The shadow database remembers which store it copies: another store is
// refused, the same store under another path is accepted, and a store made
// anew at the same path (restored, reset) is copied whole even though its
// dates lie behind the cursor.
TEST_F(ShadowSyncTest, AnotherStoreIsRefusedAndAStoreMadeAnewIsCopiedWhole) {
    struct Case {
        const char* name;
        // Makes the store of the second pass from the first one's path, in
        // the test's folder; returns its path.
        std::function<std::string(const std::string& first, const TempDir& dir)> secondStore;
        bool refused;
        int64_t written;
        int64_t count;
    };
    const Case cases[] = {
        {"another store elsewhere",
         [](const std::string&, const TempDir& dir) {
             ChatStoreWriter other(dir.file("other.db"));
             addPeopleAndChats(other);
             addMessagesOfAStore(other, "b", 30, 0);
             return dir.file("other.db");
         },
         true, 0, 50},
        {"the same store copied elsewhere",
         [](const std::string& first, const TempDir& dir) {
             std::filesystem::copy_file(first, dir.file("copy.db"));
             return dir.file("copy.db");
         },
         false, 0, 50},
        // Another store at the same path: copied in full in place of the
        // first, none of whose messages stay beside its own.
        {"a store made anew at the same path",
         [](const std::string& first, const TempDir&) {
             std::filesystem::remove(first);
             ChatStoreWriter anew(first);
             addPeopleAndChats(anew);
             addMessagesOfAStore(anew, "b", 30, 0);
             return first;
         },
         false, 30, 30},
        // The same, with the path now a link to the other store.
        {"a link at the same path to another store",
         [](const std::string& first, const TempDir& dir) {
             {
                 ChatStoreWriter other(dir.file("other.db"));
                 addPeopleAndChats(other);
                 addMessagesOfAStore(other, "b", 30, 0);
             }
             std::filesystem::remove(first);
             std::filesystem::create_symlink(dir.file("other.db"), first);
             return first;
         },
         false, 30, 30},
        // The same store, not one made anew: the deleted message leaves the
        // copy too.
        {"the same store without its newest message",
         [](const std::string& first, const TempDir&) {
             Inspector(first).exec("DELETE FROM message WHERE ROWID = 50");
             return first;
         },
         false, 0, 49},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& file :
             {storePath, shadowPath, shadowPath + "-wal", shadowPath + "-shm", dir.file("other.db"),
              dir.file("copy.db")}) {
            std::filesystem::remove(file);
        }
        {
            ChatStoreWriter store(storePath);
            addPeopleAndChats(store);
            addMessagesOfAStore(store, "a", 50, 1000);
        }
        ASSERT_EQ(engine().performSync(), 50);
        const auto before = Inspector(shadowPath).rows("SELECT * FROM messages ORDER BY guid");

        ShadowSync second(c.secondStore(storePath, dir), shadowPath);
        if (c.refused) {
            try {
                second.performSync();
                ADD_FAILURE() << "copied another store";
            } catch (const ShadowSyncError& error) {
                EXPECT_EQ(error.kind(), ShadowSyncError::Kind::syncFailed);
                EXPECT_EQ(std::string(error.what()),
                          "Sync failed: " + shadowPath + " is a copy of the messaging store " +
                              storePath + ", and " + dir.file("other.db") +
                              " holds other messages; nothing was copied. To copy " +
                              dir.file("other.db") +
                              ", sync it into another shadow database (--shadow-db), or delete " +
                              shadowPath + " (with its -wal and -shm files) and sync again.");
            }
            EXPECT_EQ(Inspector(shadowPath).rows("SELECT * FROM messages ORDER BY guid"), before);
        } else {
            EXPECT_EQ(second.performSync(), c.written);
            // Said when the copy is made again, and only then.
            EXPECT_EQ(second.passNotes().size(), c.count == c.written ? 1u : 0u);
            EXPECT_EQ(second.performSync(), 0);
            EXPECT_TRUE(second.passNotes().empty());
        }
        EXPECT_EQ(second.messageCount(), c.count);
        EXPECT_EQ(Inspector(shadowPath).ftsIntegrity(), "ok");
    }
}

// One pass at a time: a second pass into the same shadow database, started
// while the first is writing, says so at once and touches nothing.
TEST_F(ShadowSyncTest, ASecondPassWhileOneIsRunningSaysSo) {
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 25000, [](int64_t rowid) { return rowid; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool firstPageDone = false;
    bool mayGoOn = false;
    int64_t firstWritten = -1;
    std::thread first([&] {
        firstWritten = engine().performSync([&](int64_t) {
            std::unique_lock<std::mutex> lock(mutex);
            firstPageDone = true;
            changed.notify_all();
            changed.wait(lock, [&] { return mayGoOn; });
        });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return firstPageDone; });
    }
    const auto duringFirst = Inspector(shadowPath).rows("SELECT * FROM sync_state");
    try {
        engine().performSync();
        ADD_FAILURE() << "two passes ran at once";
    } catch (const ShadowSyncError& error) {
        EXPECT_EQ(error.kind(), ShadowSyncError::Kind::syncFailed);
        EXPECT_EQ(std::string(error.what()), "Sync failed: another sync into " + shadowPath +
                                                 " is running; try again when it has finished");
    }
    EXPECT_EQ(Inspector(shadowPath).rows("SELECT * FROM sync_state"), duringFirst);
    {
        std::lock_guard<std::mutex> lock(mutex);
        mayGoOn = true;
    }
    changed.notify_all();
    first.join();
    EXPECT_EQ(firstWritten, 25000);
    EXPECT_EQ(engine().performSync(), 0) << "the lock is released with the pass";
}

// A full disk fails the pass with its own cause, every time, never with the
// failure of a rollback SQLite already made; committed pages stay, and the
// pass after space is freed completes the copy.
TEST_F(ShadowSyncTest, AFullDiskIsReportedAsSuchEveryTimeAndLosesNothing) {
    // One transaction of pages, then a page and a half more.
    constexpr int kCommitted = ShadowSync::kPagesPerTransaction * ShadowSync::kBatchSize;
    constexpr int kRest = ShadowSync::kBatchSize * 3 / 2;
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, kCommitted + kRest, [](int64_t rowid) { return rowid; });
    }
    orlune::testing::FaultyDisk disk;
    auto expectDiskFull = [&](const ShadowSync::ProgressCallback& progress) {
        try {
            engine().performSync(progress);
            ADD_FAILURE() << "a pass succeeded on a full disk";
        } catch (const std::exception& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr("database or disk is full"));
            EXPECT_THAT(error.what(),
                        ::testing::HasSubstr("the disk holding " + shadowPath + " is full"));
            EXPECT_THAT(error.what(), ::testing::Not(::testing::HasSubstr("rollback")));
        }
    };
    // The disk fills up once a page after the first transaction is written.
    expectDiskFull([&](int64_t rows) {
        if (rows > kCommitted) {
            disk.setFull(true);
        }
    });
    EXPECT_GT(disk.refusedWrites(), 0);
    expectDiskFull({});
    expectDiskFull({});

    disk.setFull(false);
    EXPECT_EQ(engine().messageCount(), kCommitted) << "the pages committed before the disk filled";
    EXPECT_EQ(engine().performSync(), kRest);
    EXPECT_EQ(engine().messageCount(), kCommitted + kRest);
    EXPECT_EQ(Inspector(shadowPath).ftsIntegrity(), "ok");
}

// A damaged full-text index (leaf rows of messages_fts_data overwritten)
// answers searches wrongly without any error from SQLite's own checks. It is
// looked for after a pass that stopped uncleanly (its lock file still says it
// is running) and when a search fails on it; the next pass rebuilds it and
// says so, and searches in between know it is being repaired.
TEST_F(ShadowSyncTest, ADamagedSearchIndexIsFoundAndRebuiltByTheNextPass) {
    enum class Before { notSearched, searchFails, findsNothing, findsNothingUnderRepair, findsAll };
    struct Case {
        const char* name;
        const char* damage = nullptr; // each leaf row's new block, in SQL
        bool killedPass = false;      // the pass before this one was killed
        bool markLeft = false;        // a search elsewhere asked for a repair
        Before before = Before::notSearched;
        bool rebuilt = true;
    };
    constexpr const char* kZeroed = "zeroblob(length(block))";
    constexpr const char* kCut = "substr(block, 1, 2)";
    const Case cases[] = {
        {"zeroed leaves after a killed pass", kZeroed, true, false, Before::findsNothing},
        {"cut leaves after a killed pass", kCut, true},
        {"cut leaves found by a search", kCut, false, false, Before::searchFails},
        {"zeroed leaves while a search's mark waits", kZeroed, false, true,
         Before::findsNothingUnderRepair},
        {"a killed pass over a sound index", nullptr, true, false, Before::findsAll, false},
    };
    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 20, [](int64_t rowid) { return rowid; });
        addTextMessages(
            store, 21, 10, [](int64_t rowid) { return rowid; }, "dinner");
    }
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shadow = dir.file("shadow-" + std::to_string(++number) + ".db");
        ShadowSync sync(storePath, shadow);
        ASSERT_EQ(sync.performSync(), 30);
        EXPECT_EQ(orlune::testing::readFile(shadow + "-lock"), "") << "a pass that ended";
        if (c.damage) {
            Inspector(shadow).exec(std::string("UPDATE messages_fts_data SET block = ") + c.damage +
                                   " WHERE id > 10");
        }
        if (c.killedPass) {
            orlune::testing::writeFile(shadow + "-lock", "running\n");
        }
        if (c.markLeft) {
            SearchIndexRepair::request(shadow);
        }
        auto dinners = [&] { return ShadowDBReader(shadow).search("dinner", 100, QueryBounds{}); };
        switch (c.before) {
        case Before::notSearched:
            break;
        case Before::searchFails:
            try {
                dinners();
                ADD_FAILURE() << "a search over cut leaves succeeded";
            } catch (const ShadowDBError& error) {
                EXPECT_THAT(error.what(),
                            ::testing::HasSubstr("the search index of " + shadow +
                                                 " is damaged; the next sync rebuilds it"));
            }
            EXPECT_TRUE(SearchIndexRepair::pending(shadow)) << "the search left its mark";
            break;
        case Before::findsNothing:
        case Before::findsNothingUnderRepair: {
            const auto outcome = dinners();
            EXPECT_TRUE(outcome.results.empty());
            EXPECT_EQ(outcome.indexUnderRepair, c.before == Before::findsNothingUnderRepair);
            break;
        }
        case Before::findsAll:
            EXPECT_EQ(dinners().results.size(), 10u);
            break;
        }

        EXPECT_EQ(sync.performSync(), 0);
        if (c.rebuilt) {
            EXPECT_THAT(sync.passNotes(),
                        ElementsAre("The search index of " + shadow +
                                    " was damaged (messages_fts); it was rebuilt from the copied "
                                    "messages."));
        } else {
            EXPECT_THAT(sync.passNotes(), ::testing::IsEmpty());
        }
        EXPECT_EQ(Inspector(shadow).ftsIntegrity(), "ok");
        const auto after = dinners();
        EXPECT_EQ(after.results.size(), 10u);
        EXPECT_FALSE(after.indexUnderRepair);
        EXPECT_FALSE(SearchIndexRepair::pending(shadow));
        EXPECT_EQ(orlune::testing::readFile(shadow + "-lock"), "");
    }
}

TEST(ShadowSyncPaths, AbsentPathsTakeTheDefaultsOnceAtConstruction) {
    TempDir dir;
    FakeEnvironment environment;
    environment.home = dir.file("home");
    environment.dataFolder = dir.file("data");

    ShadowSync defaults(std::nullopt, std::nullopt, environment);
    EXPECT_EQ(defaults.sourceDatabasePath(), dir.file("home") + "/Library/Messages/chat.db");
    EXPECT_EQ(defaults.databasePath(), dir.file("data") + "/OrluneRLM/shadow.db");
    EXPECT_FALSE(std::filesystem::exists(dir.file("data"))) << "a pass makes the folder";

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

// A pass into the default shadow database makes its folder once the store
// has been read, and stops with the reason when it cannot.
TEST(ShadowSyncPaths, APassPreparesTheDefaultFolderAfterReadingTheStore) {
    TempDir dir;
    const std::string storePath = dir.file("chat.db");
    FakeEnvironment environment;
    environment.dataFolder = dir.file("data");

    ShadowSync noStore(dir.file("nowhere.db"), std::nullopt, environment);
    EXPECT_THROW(noStore.performSync(), ShadowSyncError);
    EXPECT_FALSE(std::filesystem::exists(dir.file("data")));

    {
        ChatStoreWriter store(storePath);
        addPeopleAndChats(store);
        addTextMessages(store, 1, 3, [](int64_t rowid) { return rowid * 1000; });
    }
    orlune::testing::writeFile(dir.file("data"), "");
    try {
        ShadowSync(storePath, std::nullopt, environment).performSync();
        FAIL() << "expected syncFailed";
    } catch (const ShadowSyncError& error) {
        EXPECT_EQ(error.kind(), ShadowSyncError::Kind::syncFailed);
        EXPECT_THAT(error.what(), ::testing::HasSubstr("Could not create the folder " +
                                                       dir.file("data") + "/OrluneRLM"));
    }

    std::filesystem::remove(dir.file("data"));
    ShadowSync sync(storePath, std::nullopt, environment);
    EXPECT_EQ(sync.performSync(), 3);
    EXPECT_EQ(sync.messageCount(), 3);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("data") + "/OrluneRLM/shadow.db"));
}

} // namespace
} // namespace orlune::core
