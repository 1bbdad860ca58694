// What the sync does with rows the (date, ROWID) cursor passes over: rows
// restored with old dates, chat joins written after their message, text that
// arrives or changes after the row was read. Each test builds the situation in
// a store between two passes.

#include "shadow/ShadowDB.hpp"
#include "sql/QueryBounds.hpp"
#include "sql/SQLite.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;
using ::testing::ElementsAre;
using testing::ScopedEnv;
using testing::TempDir;

using Rows = std::vector<std::vector<std::string>>;

Rows query(const std::string& path, const std::string& sql) {
    return testing::DatabaseProbe(path).rows(sql);
}

void exec(const std::string& path, const std::string& sql) {
    testing::DatabaseProbe(path).exec(sql);
}

class SyncCatchUpTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"HOME", dir.path().string()};
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    ShadowSync sync{storePath, shadowPath};

    // Handle 1; chat 1 a group "Climbing", chat 2 one-to-one. Messages 1..20,
    // dates 1000..1019, text "message <rowid>", in chat 2.
    void SetUp() override {
        env.set("XDG_DATA_HOME", dir.file("data"));
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        ChatStoreWriter store(storePath);
        store.addHandle(HandleRow{1, std::string("+15550001"), std::string("iMessage")});
        store.addChat(ChatRow{1, "iMessage;+;chat100", std::string("Climbing"),
                              samplestore::kGroupChatStyle, "chat100"});
        store.addChat(ChatRow{2, "iMessage;-;+15550001", std::nullopt,
                              samplestore::kDirectChatStyle, "+15550001"});
        store.addChatMember(1, 1);
        store.addChatMember(2, 1);
        for (int64_t rowid = 1; rowid <= 20; ++rowid) {
            addMessage(store, rowid, 999 + rowid, "message " + std::to_string(rowid), 2);
        }
    }

    static void addMessage(ChatStoreWriter& store, int64_t rowid, int64_t date,
                           std::optional<std::string> text, std::optional<int64_t> chat,
                           std::optional<std::string> body = std::nullopt) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = "guid-" + std::to_string(rowid);
        row.text = std::move(text);
        row.attributedBody = std::move(body);
        row.date = date;
        row.handleId = 1;
        store.addMessage(row);
        if (chat) {
            store.joinMessageToChat(rowid, *chat, date);
        }
    }

    // Adds more newer rows (ROWIDs from `firstRowid`) than each pass reads
    // again, so that the rows before them are left to the other checks.
    static constexpr int kPushCount = ShadowSync::kRecheckWindow + 10;
    static void pushOutOfTheRecheckWindow(ChatStoreWriter& store, int64_t firstRowid) {
        store.beginTransaction();
        for (int64_t rowid = firstRowid; rowid < firstRowid + kPushCount; ++rowid) {
            addMessage(store, rowid, 100000 + rowid, "newer " + std::to_string(rowid), 2);
        }
        store.commit();
    }

    ChatStoreWriter openStore() {
        return ChatStoreWriter(storePath, ChatStoreWriter::OpenExisting{});
    }

    // guid, chat_id, chat_name, is_group, text of one stored message.
    std::vector<std::string> stored(const std::string& guid) {
        Rows rows =
            query(shadowPath, "SELECT guid, chat_id, chat_name, is_group, text FROM messages "
                              "WHERE guid = '" +
                                  guid + "'");
        return rows.empty() ? std::vector<std::string>{} : rows.front();
    }
    std::string value(const std::string& sql) { return query(shadowPath, sql).at(0).at(0); }

    // The shadow database holds exactly one row per guid and its full-text
    // index agrees with it.
    void expectConsistent() {
        EXPECT_EQ(value("SELECT count(*) FROM messages"),
                  value("SELECT count(DISTINCT guid) FROM messages"));
        EXPECT_EQ(value("SELECT message_count FROM sync_state"),
                  value("SELECT count(*) FROM messages"));
        EXPECT_NO_THROW(
            exec(shadowPath, "INSERT INTO messages_fts(messages_fts) VALUES ('integrity-check')"));
    }
};

TEST_F(SyncCatchUpTest, RowsRestoredWithOldDatesAreCopiedOnTheNextPass) {
    ASSERT_EQ(sync.performSync(), 20);
    {
        ChatStoreWriter store = openStore();
        // New, higher ROWIDs with dates the cursor passed long ago: before the
        // first message (in no chat, so that no new join points at it), in
        // the middle, and equal to the cursor's date.
        addMessage(store, 21, 5, "restored oldest", std::nullopt);
        addMessage(store, 22, 1010, "restored middle", 1);
        addMessage(store, 23, 1019, "restored at the cursor date", std::nullopt);
        addMessage(store, 24, 2000, "new", 2);
        pushOutOfTheRecheckWindow(store, 100);
    }
    EXPECT_EQ(sync.performSync(), 4 + kPushCount);
    EXPECT_THAT(stored("guid-21"),
                ElementsAre("guid-21", "unknown", "NULL", "0", "restored oldest"));
    EXPECT_THAT(stored("guid-22"),
                ElementsAre("guid-22", "iMessage;+;chat100", "Climbing", "1", "restored middle"));
    EXPECT_THAT(stored("guid-23"),
                ElementsAre("guid-23", "unknown", "NULL", "0", "restored at the cursor date"));
    // The cursor keeps its meaning: the last row in (date, ROWID) order.
    EXPECT_THAT(query(shadowPath, "SELECT last_timestamp, last_rowid FROM sync_state"),
                ElementsAre(ElementsAre(std::to_string(100000 + 99 + kPushCount),
                                        std::to_string(99 + kPushCount))));
    EXPECT_EQ(sync.performSync(), 0);
    expectConsistent();
}

TEST_F(SyncCatchUpTest, AChatJoinWrittenAfterItsMessageMovesTheMessageIntoTheChat) {
    {
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 1100, "joined later", std::nullopt);
        pushOutOfTheRecheckWindow(store, 100);
    }
    ASSERT_EQ(sync.performSync(), 21 + kPushCount);
    ASSERT_THAT(stored("guid-21"), ElementsAre("guid-21", "unknown", "NULL", "0", "joined later"));

    openStore().joinMessageToChat(21, 1, 1100);
    EXPECT_EQ(sync.performSync(), 1);
    EXPECT_THAT(stored("guid-21"),
                ElementsAre("guid-21", "iMessage;+;chat100", "Climbing", "1", "joined later"));
    // The full-text index follows the new chat name.
    EXPECT_EQ(
        value("SELECT count(*) FROM messages_fts WHERE messages_fts MATCH 'chat_name:climbing'"),
        "1");
    EXPECT_EQ(sync.performSync(), 0);
    expectConsistent();
}

TEST_F(SyncCatchUpTest, ALateJoinIsFoundWhenTheStoreReusesTheRowidOfADeletedJoin) {
    {
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 1100, "joined into a reused rowid", std::nullopt);
        pushOutOfTheRecheckWindow(store, 100);
    }
    ASSERT_EQ(sync.performSync(), 21 + kPushCount);
    const int64_t newest = 99 + kPushCount;
    ASSERT_EQ(stored("guid-21").at(1), "unknown");
    const std::string lastJoin =
        query(storePath, "SELECT max(rowid) FROM chat_message_join").at(0).at(0);

    {
        // Between two passes the newest join goes (with its message) and the
        // late join of message 21 takes its rowid: the join rowid mark alone
        // would see nothing new.
        ChatStoreWriter store = openStore();
        store.execute("DELETE FROM chat_message_join WHERE message_id = " + std::to_string(newest) +
                      "; DELETE FROM message WHERE ROWID = " + std::to_string(newest));
        store.joinMessageToChat(21, 1, 1100);
    }
    ASSERT_EQ(
        query(storePath, "SELECT rowid FROM chat_message_join WHERE message_id = 21").at(0).at(0),
        lastJoin);
    EXPECT_EQ(sync.performSync(), 1);
    EXPECT_EQ(stored("guid-21").at(1), "iMessage;+;chat100");
    expectConsistent();
}

TEST_F(SyncCatchUpTest, TextThatArrivesOrChangesAfterTheRowWasReadIsCopied) {
    {
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 1100, std::nullopt, 2); // no text yet: dropped
        addMessage(store, 22, 1101, std::nullopt, 2); // no body yet: dropped
    }
    ASSERT_EQ(sync.performSync(), 20);
    ASSERT_TRUE(stored("guid-21").empty());

    {
        ChatStoreWriter store = openStore();
        store.execute("UPDATE message SET text = 'arrived later' WHERE ROWID = 21");
        const std::string body =
            samplestore::TypedStreamWriter::attributedBody("body written later");
        sqlite::Statement update;
        update.prepare(store.connection(),
                       "UPDATE message SET attributedBody = ? WHERE ROWID = 22");
        sqlite3_bind_blob(update.get(), 1, body.data(), static_cast<int>(body.size()),
                          SQLITE_TRANSIENT);
        update.run();
        // An edit of a message already copied.
        store.execute("UPDATE message SET text = 'edited afterwards' WHERE ROWID = 19");
    }
    EXPECT_EQ(sync.performSync(), 3);
    EXPECT_EQ(stored("guid-21").at(4), "arrived later");
    EXPECT_EQ(stored("guid-22").at(4), "body written later");
    EXPECT_EQ(stored("guid-19").at(4), "edited afterwards");
    // The index holds the new words and no longer the old ones.
    EXPECT_EQ(value("SELECT count(*) FROM messages_fts WHERE messages_fts MATCH 'edited'"), "1");
    EXPECT_EQ(value("SELECT count(*) FROM messages_fts WHERE messages_fts MATCH '\"message 19\"'"),
              "0");
    EXPECT_EQ(sync.performSync(), 0);
    expectConsistent();
}

TEST_F(SyncCatchUpTest, PassesOverAnUnchangedStoreWriteNothing) {
    {
        // A message in two chats must not flip between them from pass to pass.
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 1100, "in two chats", 1);
        store.joinMessageToChat(21, 2, 1100);
    }
    ASSERT_EQ(sync.performSync(), 22);
    const Rows before =
        query(shadowPath, "SELECT rowid, guid, chat_id FROM messages ORDER BY rowid");
    const Rows marks = query(shadowPath, "SELECT * FROM sync_marks");
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(sync.performSync(), 0);
    }
    EXPECT_EQ(query(shadowPath, "SELECT rowid, guid, chat_id FROM messages ORDER BY rowid"),
              before);
    EXPECT_EQ(query(shadowPath, "SELECT * FROM sync_marks"), marks);
}

TEST_F(SyncCatchUpTest, AShadowDatabaseSyncedBeforeTheMarksExistedRecoversRowsLostThen) {
    ASSERT_EQ(sync.performSync(), 20);
    {
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 5, "restored before the upgrade", 2);
    }
    // As left by a version without marks (and without schema versions): the
    // restored row was never copied.
    exec(shadowPath, "DROP TABLE sync_marks; DROP TABLE sync_source; PRAGMA user_version = 0");
    EXPECT_EQ(sync.performSync(), 1);
    EXPECT_EQ(stored("guid-21").at(4), "restored before the upgrade");
    EXPECT_EQ(sync.performSync(), 0);
    expectConsistent();
}

// Every chat of a message in several chats is kept, and a search within any
// of them finds it.
class MessageChatsTest : public SyncCatchUpTest {
protected:
    static constexpr const char* kGroup = "iMessage;+;chat100";
    static constexpr const char* kDirect = "iMessage;-;+15550001";

    // Message 21 in both chats; message 22 in none.
    void SetUp() override {
        SyncCatchUpTest::SetUp();
        ChatStoreWriter store = openStore();
        addMessage(store, 21, 1100, "pizza tonight", 1);
        store.joinMessageToChat(21, 2, 1100);
        addMessage(store, 22, 1101, "pizza nowhere", std::nullopt);
    }

    Rows chatsOf(const std::string& guid) {
        return query(shadowPath, "SELECT chat_id FROM message_chats WHERE message_guid = '" + guid +
                                     "' ORDER BY chat_id");
    }

    // The guids a search for `words` within `chats` finds, sorted.
    std::vector<std::string> foundIn(const std::string& words, std::vector<std::string> chats) {
        MessageScope scope;
        scope.chatIds = std::move(chats);
        return testing::sortedFoundGuids(shadowPath, words, scope);
    }
};

TEST_F(MessageChatsTest, AMessageInTwoChatsIsFoundFromEachOfThem) {
    sync.performSync();
    ASSERT_EQ(value("SELECT count(*) FROM messages"), "22");
    EXPECT_THAT(chatsOf("guid-21"), ElementsAre(ElementsAre(kGroup), ElementsAre(kDirect)));
    EXPECT_THAT(chatsOf("guid-22"), ::testing::IsEmpty());
    EXPECT_THAT(chatsOf("guid-5"), ElementsAre(ElementsAre(kDirect)));
    EXPECT_EQ(value("SELECT count(*) FROM messages WHERE guid = 'guid-21'"), "1");

    struct Case {
        const char* name;
        std::string words;
        std::vector<std::string> chats;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases = {
        {"words, the group", "pizza", {kGroup}, {"guid-21"}},
        {"words, the one-to-one chat", "pizza", {kDirect}, {"guid-21"}},
        {"words, both chats: once", "pizza", {kGroup, kDirect}, {"guid-21"}},
        {"no words, the group", "", {kGroup}, {"guid-21"}},
        {"a chat with no such message", "pizza", {"iMessage;-;other"}, {}},
        {"no chat at all", "pizza", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(foundIn(c.words, c.chats), c.found) << c.name;
    }
}

TEST_F(MessageChatsTest, MembershipFollowsTheStore) {
    sync.performSync();
    ASSERT_EQ(value("SELECT count(*) FROM messages"), "22");
    {
        // Message 5 joins the group after it was copied, out of reach of the
        // re-read of the newest rows; message 21 is deleted.
        ChatStoreWriter store = openStore();
        pushOutOfTheRecheckWindow(store, 30);
        store.joinMessageToChat(5, 1, 1004);
        store.deleteMessage(21);
    }
    sync.performSync();
    EXPECT_THAT(chatsOf("guid-5"), ElementsAre(ElementsAre(kGroup), ElementsAre(kDirect)));
    EXPECT_EQ(stored("guid-5").at(1), kDirect) << "the stored chat keeps its meaning";
    EXPECT_THAT(chatsOf("guid-21"), ::testing::IsEmpty());
    EXPECT_EQ(foundIn("message", {kGroup}), std::vector<std::string>{"guid-5"});

    // An unchanged store: nothing written, the membership stays.
    const Rows before = query(shadowPath, "SELECT * FROM message_chats ORDER BY 1, 2");
    EXPECT_EQ(sync.performSync(), 0);
    EXPECT_EQ(query(shadowPath, "SELECT * FROM message_chats ORDER BY 1, 2"), before);
    expectConsistent();
}

TEST_F(MessageChatsTest, AMessageWhoseChatsStraddleTwoPagesKeepsThemAll) {
    // The store's rows in date order: one per message and chat. Rows before
    // the message "on the edge" fill a page but one, so the first page ends
    // after its first chat.
    const int64_t rowsSoFar = 23; // messages 1 to 20, 21 twice, 22
    const int64_t last = ShadowSync::kBatchSize - rowsSoFar + 22;
    {
        ChatStoreWriter store = openStore();
        store.beginTransaction();
        for (int64_t rowid = 23; rowid < last; ++rowid) {
            addMessage(store, rowid, 2000 + rowid, "filler " + std::to_string(rowid), 2);
        }
        addMessage(store, last, 2000 + last, "on the edge", 1);
        store.joinMessageToChat(last, 2, 2000 + last);
        store.commit();
        // Out of reach of the re-read of the newest rows.
        pushOutOfTheRecheckWindow(store, last + 1);
    }
    sync.performSync();
    const std::string guid = "guid-" + std::to_string(last);
    EXPECT_THAT(chatsOf(guid), ElementsAre(ElementsAre(kGroup), ElementsAre(kDirect)));
    EXPECT_EQ(foundIn("edge", {kDirect}), std::vector<std::string>{guid});
    EXPECT_EQ(foundIn("edge", {kGroup}), std::vector<std::string>{guid});
    expectConsistent();
}

TEST_F(MessageChatsTest, AnOlderDatabaseLearnsTheOtherChatsWithoutCopyingAgain) {
    sync.performSync();
    ASSERT_EQ(value("SELECT count(*) FROM messages"), "22");
    // As the version before message_chats left it.
    exec(shadowPath, "DROP TRIGGER message_chats_follow_message; DROP TABLE message_chats; "
                     "DROP TABLE message_chats_state; PRAGMA user_version = 4");
    const Rows messages = query(shadowPath, "SELECT rowid, guid, chat_id FROM messages");
    const Rows cursor = query(shadowPath, "SELECT last_timestamp, last_rowid FROM sync_state");

    EXPECT_EQ(sync.performSync(), 0) << "nothing is copied again";
    EXPECT_EQ(query(shadowPath, "SELECT rowid, guid, chat_id FROM messages"), messages);
    EXPECT_EQ(query(shadowPath, "SELECT last_timestamp, last_rowid FROM sync_state"), cursor);
    EXPECT_THAT(chatsOf("guid-21"), ElementsAre(ElementsAre(kGroup), ElementsAre(kDirect)));
    EXPECT_THAT(chatsOf("guid-7"), ElementsAre(ElementsAre(kDirect)));
    EXPECT_EQ(value("SELECT complete FROM message_chats_state"), "1");
    EXPECT_EQ(foundIn("pizza", {kGroup}), std::vector<std::string>{"guid-21"});
}

} // namespace
} // namespace orlune::core
