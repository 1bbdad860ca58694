// Chats the person leaves out: never copied when left out before their first
// copy, gone with every trace (messages, reactions, attachments, members,
// title, people met only there) and none of their words in the file's bytes
// when left out after it, and copied again once taken back in.

#include "shadow/ShadowDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

using samplestore::AttachmentRow;
using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;
using testing::DatabaseProbe;
using testing::FakeEnvironment;
using testing::TempDir;

constexpr const char* kPrivateChat = "iMessage;+;chat900";
constexpr const char* kClimbingChat = "iMessage;+;chat100";

// Words that appear only in the chat left out: its messages, its attachment's
// name, its title, and the name of the one person met only there.
const std::vector<std::string> kPrivateWords = {"quokkatherapy", "zanzibarsecret", "VerbatimNotes",
                                                "Larkspur", "Foxglove"};

// The store guid of message `rowid` (a reaction names its target by a
// guid of this length).
std::string guidOf(int64_t rowid) {
    const std::string digits = std::to_string(rowid);
    return "00000000-0000-0000-0000-" + std::string(12 - digits.size(), '0') + digits;
}

// Chat 1 "Larkspur Circle" (left out in the tests) with Wilhelmina Foxglove,
// met nowhere else, and Alex; chat 2 "Climbing" with Alex. One message is in
// both chats; one of the private messages carries an attachment and a
// reaction.
void writeStore(const std::string& path) {
    ChatStoreWriter store(path);
    store.addHandle(HandleRow{1, std::string("alex@example.com"), std::string("iMessage")});
    store.addHandle(HandleRow{9, std::string("foxglove@example.com"), std::string("iMessage")});
    store.addChat(ChatRow{1, kPrivateChat, std::string("Larkspur Circle"),
                          samplestore::kGroupChatStyle, "chat900"});
    store.addChat(ChatRow{2, kClimbingChat, std::string("Climbing"), samplestore::kGroupChatStyle,
                          "chat100"});
    store.addChatMember(1, 9);
    store.addChatMember(1, 1);
    store.addChatMember(2, 1);
    auto add = [&](int64_t rowid, const std::string& text, int64_t handle,
                   std::vector<int64_t> chats) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = guidOf(rowid);
        row.text = text;
        row.date = 1000 + rowid;
        row.handleId = handle;
        store.addMessage(row);
        for (int64_t chat : chats) {
            store.joinMessageToChat(rowid, chat, row.date);
        }
    };
    add(1, "the quokkatherapy session went long", 9, {1});
    add(2, "keep the zanzibarsecret between us", 9, {1});
    add(3, "meet at the crag at nine", 1, {2});
    add(4, "shared zanzibarsecret in both chats", 1, {1, 2});
    add(5, "", 9, {1});
    store.addAttachment(AttachmentRow{.rowid = 1,
                                      .guid = "att-1",
                                      .filename = std::string("~/a/VerbatimNotes.pdf"),
                                      .uti = std::string("com.adobe.pdf"),
                                      .transferName = std::string("VerbatimNotes.pdf")});
    store.attachToMessage(5, 1);
    MessageRow reaction;
    reaction.rowid = 6;
    reaction.guid = guidOf(6);
    reaction.date = 1010;
    reaction.isFromMe = true;
    reaction.associatedMessageGuid = "p:0/" + guidOf(1);
    reaction.associatedMessageType = 2000;
    store.addMessage(reaction);
    store.joinMessageToChat(6, 1, reaction.date);
}

class ExcludedChatsSyncTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeEnvironment environment;
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    std::string card = dir.file("people.vcf");

    void SetUp() override {
        environment.home = dir.path().string();
        environment.variables["ADDRESS_BOOK_PATH"] = dir.file("no-books");
        environment.variables["LANG"] = "en_US.UTF-8";
        writeStore(storePath);
        testing::writeFile(card, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Wilhelmina Foxglove\r\n"
                                 "N:Foxglove;Wilhelmina;;;\r\nEMAIL:foxglove@example.com\r\n"
                                 "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Alex Kim\r\n"
                                 "N:Kim;Alex;;;\r\nEMAIL:alex@example.com\r\nEND:VCARD\r\n");
    }

    void sync(const std::set<std::string>& excluded) {
        ShadowSync engine(storePath, shadowPath, environment);
        engine.setContactFiles({card});
        engine.setExcludedChats(excluded);
        engine.performSync();
    }

    std::string value(const std::string& sql) { return DatabaseProbe(shadowPath).value(sql); }
    std::string count(const std::string& table, const std::string& where) {
        return value("SELECT COUNT(*) FROM " + table + " WHERE " + where);
    }
    size_t hits(const std::string& word) {
        return ShadowDBReader(shadowPath).search(word, 10).size();
    }

    // Everything the private chat left in the copy, table by table.
    void expectPrivateChatGone() {
        const std::string chat = std::string("'") + kPrivateChat + "'";
        EXPECT_EQ(count("messages", "guid LIKE '00000000-%' AND guid <> '" + guidOf(3) + "'"), "0");
        EXPECT_EQ(count("messages", "chat_id = " + chat), "0");
        EXPECT_EQ(count("reactions", "1"), "0");
        EXPECT_EQ(count("attachments", "1"), "0");
        EXPECT_EQ(count("message_chats", "chat_id = " + chat), "0");
        EXPECT_EQ(count("chat_participants", "chat_id = " + chat), "0");
        EXPECT_EQ(count("chats", "chat_id = " + chat), "0");
        EXPECT_EQ(count("person_handles", "handle = 'foxglove@example.com'"), "0");
        EXPECT_EQ(count("people", "display_name = 'Wilhelmina Foxglove'"), "0");
        // What the other chat holds stays, Alex's name with it.
        EXPECT_EQ(count("messages", "guid = '" + guidOf(3) + "'"), "1");
        EXPECT_EQ(count("person_handles", "handle = 'alex@example.com'"), "1");
        EXPECT_EQ(value("SELECT message_count FROM sync_state"),
                  value("SELECT COUNT(*) FROM messages"));
        EXPECT_EQ(DatabaseProbe(shadowPath).ftsIntegrity(), "ok");
        for (const std::string& word : kPrivateWords) {
            EXPECT_EQ(hits(word), 0u) << word;
            for (const char* suffix : {"", "-wal"}) {
                EXPECT_FALSE(testing::fileHolds(shadowPath + suffix, word)) << word << suffix;
            }
        }
        EXPECT_EQ(hits("crag"), 1u);
    }
};

// Left out before its first copy, or after it: the copy ends up the same.
TEST_F(ExcludedChatsSyncTest, AChatLeftOutLeavesNothingOfItselfInTheCopy) {
    struct Case {
        const char* name;
        bool copiedFirst;
    };
    for (const Case& when : {Case{"before its first copy", false}, Case{"after it", true}}) {
        SCOPED_TRACE(when.name);
        std::filesystem::remove(shadowPath);
        if (when.copiedFirst) {
            sync({});
            ASSERT_EQ(hits("zanzibarsecret"), 2u);
            ASSERT_EQ(count("reactions", "1"), "1");
            ASSERT_EQ(count("attachments", "1"), "1");
            ASSERT_TRUE(testing::fileHolds(shadowPath, "Foxglove") ||
                        testing::fileHolds(shadowPath + "-wal", "Foxglove"));
        }
        sync({kPrivateChat});
        expectPrivateChatGone();
        sync({kPrivateChat});
        expectPrivateChatGone();
        std::filesystem::remove(shadowPath + "-wal");
        std::filesystem::remove(shadowPath + "-shm");
    }
}

// Taken back in, the chat is copied again at the next pass, with what it
// carries, although the cursor has long passed its messages.
TEST_F(ExcludedChatsSyncTest, AChatTakenBackInIsCopiedAgain) {
    sync({kPrivateChat});
    ASSERT_EQ(hits("quokkatherapy"), 0u);
    sync({});
    EXPECT_EQ(hits("quokkatherapy"), 1u);
    EXPECT_EQ(hits("zanzibarsecret"), 2u);
    EXPECT_EQ(count("reactions", "target_guid = '" + guidOf(1) + "'"), "1");
    EXPECT_EQ(count("attachments", "name = 'VerbatimNotes.pdf'"), "1");
    EXPECT_EQ(value("SELECT title FROM chats WHERE chat_id = '" + std::string(kPrivateChat) + "'"),
              "Larkspur Circle");
    EXPECT_EQ(count("message_chats", "message_guid = '" + guidOf(4) + "'"), "2");
    EXPECT_EQ(count("person_handles", "handle = 'foxglove@example.com'"), "1");
    EXPECT_EQ(value("SELECT message_count FROM sync_state"),
              value("SELECT COUNT(*) FROM messages"));
    EXPECT_EQ(count("excluded_chats", "1"), "0");
}

// The file names no chat it leaves out: only a digest of its id is kept.
TEST_F(ExcludedChatsSyncTest, TheFileKeepsOnlyADigestOfAChatLeftOut) {
    sync({kPrivateChat});
    EXPECT_EQ(value("SELECT chat_key FROM excluded_chats"),
              ShadowSync::excludedChatKey(kPrivateChat));
    EXPECT_FALSE(testing::fileHolds(shadowPath, "chat900"));
    EXPECT_FALSE(testing::fileHolds(shadowPath + "-wal", "chat900"));
}

} // namespace
} // namespace orlune::core
