#include "tools/samplestore/ChatStoreWriter.hpp"

#include "sql/SQLite.hpp"
#include "store/MessageSummaryInfo.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <functional>
#include <gtest/gtest.h>

namespace orlune::samplestore {
namespace {

using orlune::testing::DatabaseProbe;
using orlune::testing::TempDir;

// A store of two chats: 1 with one person, 2 a group. Message 1 is in chat 1,
// message 2 in both, messages 3 (with an attachment) and 4 in chat 2.
class ChatStoreWriterTest : public ::testing::Test {
protected:
    std::unique_ptr<ChatStoreWriter> make(StoreEra era = StoreEra::Recent,
                                          bool deferIndexes = false) {
        auto writer = std::make_unique<ChatStoreWriter>(
            path_, ChatStoreWriter::CreateOptions{.deferIndexes = deferIndexes, .era = era});
        writer->execute("PRAGMA synchronous = OFF");
        writer->beginTransaction();
        writer->addHandle({1, "+15550001", "iMessage"});
        writer->addHandle({2, "bob@example.com", "iMessage"});
        writer->addChat({1, "iMessage;-;+15550001", std::nullopt, kDirectChatStyle, "+15550001"});
        ChatRow group{2, "iMessage;+;chat42", "Trip", kGroupChatStyle, "chat42"};
        group.roomName = "chat42";
        writer->addChat(group);
        writer->addChatMember(1, 1);
        writer->addChatMember(2, 1);
        writer->addChatMember(2, 2);
        for (int64_t id = 1; id <= 4; ++id) {
            MessageRow row;
            row.rowid = id;
            row.guid = "guid-" + std::to_string(id);
            row.text = "text " + std::to_string(id);
            row.date = id * 1000000000LL;
            row.handleId = 1;
            writer->addMessage(row);
        }
        writer->joinMessageToChat(1, 1, 1);
        writer->joinMessageToChat(2, 1, 2);
        writer->joinMessageToChat(2, 2, 2);
        writer->joinMessageToChat(3, 2, 3);
        writer->joinMessageToChat(4, 2, 4);
        AttachmentRow attachment;
        attachment.rowid = 1;
        attachment.guid = "at_0_guid-3";
        attachment.filename = "~/Library/Messages/Attachments/aa/0/at_0_guid-3/IMG_1.HEIC";
        writer->addAttachment(attachment);
        writer->attachToMessage(3, 1);
        writer->commit();
        return writer;
    }

    // Where each message is: "c" and the chats it is joined to, "r" and the
    // chats of its Recently Deleted rows, or "gone" with "+" when
    // deleted_messages records it.
    std::vector<std::string> where() {
        DatabaseProbe store(path_);
        std::vector<std::string> out;
        for (int id = 1; id <= 4; ++id) {
            const std::string rowid = std::to_string(id);
            if (store.value("SELECT COUNT(*) FROM message WHERE ROWID = " + rowid) == "0") {
                out.push_back(store.value("SELECT COUNT(*) FROM deleted_messages WHERE guid = "
                                          "'guid-" +
                                          rowid + "'") == "1"
                                  ? "gone+"
                                  : "gone");
                continue;
            }
            std::string at = "c";
            for (const auto& row : store.rows("SELECT chat_id FROM chat_message_join WHERE "
                                              "message_id = " +
                                              rowid + " ORDER BY 1")) {
                at += row[0];
            }
            at += " r";
            for (const auto& row : store.rows("SELECT chat_id FROM chat_recoverable_message_join "
                                              "WHERE message_id = " +
                                              rowid + " ORDER BY 1")) {
                at += row[0];
            }
            out.push_back(at);
        }
        return out;
    }

    TempDir dir_;
    std::string path_ = dir_.file("chat.db");
};

TEST_F(ChatStoreWriterTest, ChangesLeaveTheRowsWhereTheAppLeavesThem) {
    using Change = std::function<void(ChatStoreWriter&)>;
    struct Case {
        const char* name;
        Change change;
        std::vector<std::string> where;
    };
    const Case cases[] = {
        {"nothing", [](ChatStoreWriter&) {}, {"c1 r", "c12 r", "c2 r", "c2 r"}},
        {"a message of two chats to Recently Deleted",
         [](ChatStoreWriter& w) { w.moveToRecentlyDeleted(2, 99); },
         {"c1 r", "c r12", "c2 r", "c2 r"}},
        {"and back",
         [](ChatStoreWriter& w) {
             w.moveToRecentlyDeleted(2, 99);
             w.restoreFromRecentlyDeleted(2);
         },
         {"c1 r", "c12 r", "c2 r", "c2 r"}},
        {"deleted for good",
         [](ChatStoreWriter& w) { w.deleteMessage(3); },
         {"c1 r", "c12 r", "gone+", "c2 r"}},
        {"deleted from Recently Deleted",
         [](ChatStoreWriter& w) {
             w.moveToRecentlyDeleted(4, 99);
             w.deleteMessage(4);
         },
         {"c1 r", "c12 r", "c2 r", "gone+"}},
        {"a conversation to Recently Deleted",
         [](ChatStoreWriter& w) { w.moveChatToRecentlyDeleted(2, 99); },
         {"c1 r", "c1 r2", "c r2", "c r2"}},
        {"a conversation deleted",
         [](ChatStoreWriter& w) { w.deleteChat(2); },
         {"c1 r", "c1 r", "gone+", "gone+"}},
        {"a conversation deleted from Recently Deleted",
         [](ChatStoreWriter& w) {
             w.moveChatToRecentlyDeleted(2, 99);
             w.deleteChat(2);
         },
         {"c1 r", "c1 r", "gone+", "gone+"}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path_);
        {
            auto writer = make();
            c.change(*writer);
        }
        EXPECT_EQ(where(), c.where) << c.name;
    }
}

TEST_F(ChatStoreWriterTest, WhatTheChangesLeaveBehind) {
    {
        auto writer = make();
        writer->moveToRecentlyDeleted(2, 99);
        writer->deleteMessage(3);
        writer->deleteChat(1);
    }
    DatabaseProbe store(path_);
    // Recently Deleted keeps the text of each chat's copy (chat 1's went
    // with the chat).
    EXPECT_EQ(store.rows("SELECT chat_id, delete_date FROM recoverable_message_part WHERE "
                         "message_id = 2"),
              (std::vector<std::vector<std::string>>{{"2", "99"}}));
    // A deleted message's attachment goes with it; a deleted chat leaves its
    // guid behind.
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM attachment"), "0");
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM sync_deleted_attachments"), "1");
    EXPECT_EQ(store.value("SELECT guid FROM sync_deleted_chats"), "iMessage;-;+15550001");
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM chat_handle_join WHERE chat_id = 1"), "0");
    // The message of two chats still has its Recently Deleted row in the
    // chat that stays.
    EXPECT_EQ(store.value("SELECT chat_id FROM chat_recoverable_message_join WHERE message_id = 2"),
              "2");
    EXPECT_EQ(store.value("SELECT cache_roomnames FROM message WHERE ROWID = 4"), "chat42");
}

TEST_F(ChatStoreWriterTest, EditsKeepTheHistoryAndUnsendsClearTheText) {
    {
        auto writer = make();
        writer->editMessage(1, "first edit", 5000000000LL);
        writer->editMessage(1, "second edit", 7000000000LL, true);
        writer->editMessage(4, "quiet edit", 6000000000LL, false, false);
        writer->unsendMessage(2, 8000000000LL, false);
        writer->unsendMessage(3, 9000000000LL, true);
    }
    DatabaseProbe store(path_);
    auto summary = [this](int rowid) {
        core::sqlite::Connection db;
        EXPECT_EQ(db.open(path_, SQLITE_OPEN_READONLY), SQLITE_OK);
        core::sqlite::Statement s = db.prepare(
            "SELECT message_summary_info FROM message WHERE ROWID = " + std::to_string(rowid));
        EXPECT_TRUE(s.step());
        return core::MessageSummaryInfo::parse(s.columnBytes(0));
    };
    const auto edited = summary(1);
    ASSERT_TRUE(edited);
    const std::vector<core::EditedPart> history = {
        {0, {{1.0, "text 1"}, {5.0, "first edit"}, {7.0, "second edit"}}}};
    EXPECT_EQ(edited->editedParts(), history);
    // The last edit left the body empty: the history alone holds the text.
    EXPECT_EQ(store.rows("SELECT text, attributedBody, date_edited FROM message WHERE ROWID = 1"),
              (std::vector<std::vector<std::string>>{{"NULL", "NULL", "7000000000"}}));
    EXPECT_EQ(store.rows("SELECT text, date_edited FROM message WHERE ROWID = 4"),
              (std::vector<std::vector<std::string>>{{"quiet edit", "0"}}));
    for (int rowid : {2, 3}) {
        const auto unsent = summary(rowid);
        ASSERT_TRUE(unsent);
        EXPECT_EQ(unsent->unsentParts(), std::vector<int64_t>{0});
        EXPECT_TRUE(unsent->editedParts().empty());
    }
    EXPECT_EQ(store.rows("SELECT ROWID, text, attributedBody, is_empty, part_count, date_edited, "
                         "date_retracted FROM message WHERE ROWID IN (2, 3) ORDER BY 1"),
              (std::vector<std::vector<std::string>>{
                  {"2", "NULL", "NULL", "1", "0", "8000000000", "0"},
                  {"3", "NULL", "NULL", "1", "0", "9000000000", "9000000000"}}));
}

TEST_F(ChatStoreWriterTest, RefusesChangesTheStoreCannotHold) {
    {
        auto writer = make(StoreEra::BeforeEdits);
        EXPECT_THROW(writer->editMessage(1, "x", 5), ChatStoreError);
        EXPECT_THROW(writer->unsendMessage(1, 5, true), ChatStoreError);
        EXPECT_THROW(writer->moveToRecentlyDeleted(1, 5), ChatStoreError);
        EXPECT_THROW(writer->moveChatToRecentlyDeleted(1, 5), ChatStoreError);
        EXPECT_NO_THROW(writer->deleteMessage(1));
        EXPECT_THROW(writer->editMessage(1, "the row is gone", 5), ChatStoreError);
    }
    std::filesystem::remove(path_);
    {
        // Without the triggers a deletion would leave no trace.
        auto writer = make(StoreEra::Recent, true);
        EXPECT_THROW(writer->deleteMessage(1), ChatStoreError);
        writer->createIndexes();
        EXPECT_NO_THROW(writer->deleteMessage(1));
    }
    EXPECT_EQ(DatabaseProbe(path_).value("SELECT guid FROM deleted_messages"), "guid-1");
}

} // namespace
} // namespace orlune::samplestore
