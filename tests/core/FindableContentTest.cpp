// What a search finds besides the words of a message: its attachments' file
// names and its emoji, in a store built by hand.

#include "shadow/ShadowDBReader.hpp"
#include "sql/QueryBounds.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using samplestore::AttachmentRow;
using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;
using testing::DatabaseProbe;
using testing::ScopedEnv;
using testing::TempDir;
using Guids = std::vector<std::string>;

// The object replacement character a store's text holds for each attachment.
constexpr const char* kPlaceholder = "\xEF\xBF\xBC";

class FindableContentTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"HOME", dir.path().string()};
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    ShadowSync sync{storePath, shadowPath};

    static constexpr const char* kFlat = "iMessage;+;chat7";
    static constexpr const char* kDirect = "iMessage;-;+15550001";

    // Chat 1 the group "Flat", chat 2 one-to-one.
    //   m1  only an attachment, "Signed Lease.pdf", in the group
    //   m2  "the lease is signed", one-to-one
    //   m3  words and a hidden link-preview image "preview-lease.png"
    //   m4  only a photo "IMG_0042.HEIC", one-to-one
    //   m5-m10 emoji, m11 Chinese, one-to-one
    void SetUp() override {
        env.set("XDG_DATA_HOME", dir.file("data"));
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        ChatStoreWriter store(storePath);
        store.addHandle(HandleRow{1, std::string("+15550001"), std::string("iMessage")});
        store.addChat(
            ChatRow{1, kFlat, std::string("Flat"), samplestore::kGroupChatStyle, "chat7"});
        store.addChat(
            ChatRow{2, kDirect, std::nullopt, samplestore::kDirectChatStyle, "+15550001"});
        addMessage(store, 1, kPlaceholder, 1,
                   AttachmentRow{1, "att-1", 0, std::nullopt, std::string("com.adobe.pdf")},
                   "Signed Lease.pdf");
        addMessage(store, 2, "the lease is signed", 2);
        AttachmentRow preview{3, "att-3", 0, std::nullopt, std::string("public.png")};
        preview.hideAttachment = true;
        addMessage(store, 3, std::string("look at this link ") + kPlaceholder, 2, preview,
                   "preview-lease.png");
        addMessage(store, 4, kPlaceholder, 2,
                   AttachmentRow{4, "att-4", 0, std::nullopt, std::string("public.heic")},
                   "IMG_0042.HEIC");
        // Emoji: with and without a variation selector, skin tones, a joined
        // sequence.
        addMessage(store, 5, "pizza tonight? \U0001F355\U0001F355", 2);
        addMessage(store, 6, "\u2764\uFE0F", 2);
        addMessage(store, 7, "\u2764 thanks", 2);
        addMessage(store, 8, "\U0001F44D\U0001F3FD", 2);
        addMessage(store, 9, "\U0001F44D", 2);
        addMessage(store, 10, "\U0001F469\u200D\U0001F4BB coding late", 2);
        // A sentence without spaces.
        addMessage(store, 11, "明天我们去吃火锅吧", 2);
    }

    static void addMessage(ChatStoreWriter& store, int64_t rowid, const std::string& text,
                           int64_t chat, std::optional<AttachmentRow> attachment = std::nullopt,
                           const std::string& name = "") {
        MessageRow row;
        row.rowid = rowid;
        row.guid = "m" + std::to_string(rowid);
        row.text = text;
        row.date = 1000 + rowid;
        row.handleId = 1;
        store.addMessage(row);
        store.joinMessageToChat(rowid, chat, row.date);
        if (attachment) {
            attachment->transferName = name;
            attachment->totalBytes = 1000;
            store.addAttachment(*attachment);
            store.attachToMessage(rowid, attachment->rowid);
        }
    }

    Guids found(const std::string& query, std::optional<std::vector<std::string>> chats = {}) {
        MessageScope scope;
        scope.chatIds = std::move(chats);
        return testing::sortedFoundGuids(shadowPath, query, scope);
    }
};

TEST_F(FindableContentTest, AttachmentsAreFoundByTheirFileNames) {
    sync.performSync();
    DatabaseProbe probe(shadowPath);
    EXPECT_EQ(probe.value("SELECT text FROM messages WHERE guid = 'm1'"), "")
        << "the message's text stays what was written";

    const struct {
        std::string query;
        std::optional<std::vector<std::string>> chats;
        Guids guids;
    } cases[] = {
        {"lease", {}, {"m1", "m2"}},
        {"lease.pdf", {}, {"m1"}},
        {"Signed Lease.pdf", {}, {"m1"}},
        {"pdf", {}, {"m1"}},
        {"img_0042.heic", {}, {"m4"}},
        {"lease", std::vector<std::string>{kDirect}, {"m2"}},
        {"lease", std::vector<std::string>{kFlat}, {"m1"}},
        // A hidden attachment's name is not searched; neither is the name
        // under another column's filter.
        {"preview", {}, {}},
        {"sender:lease", {}, {}},
        {"chat_name:pdf", {}, {}},
        // Words of the text and of a name are matched separately.
        {"lease AND heic", {}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(found(c.query, c.chats), c.guids) << c.query;
    }
}

TEST_F(FindableContentTest, EmojiAreFoundAndCombinedWithWords) {
    sync.performSync();
    const struct {
        std::string query;
        Guids guids;
    } cases[] = {
        {"\U0001F355", {"m5"}},
        {"pizza \U0001F355", {"m5"}},
        {"\U0001F355 tonight", {"m5"}},
        {"\U0001F355 lease", {}},
        {"\u2764\uFE0F", {"m6", "m7"}},
        {"\u2764", {"m6", "m7"}},
        {"\u2764 thanks", {"m7"}},
        {"\U0001F44D", {"m8", "m9"}},
        {"\U0001F44D\U0001F3FD", {"m8"}},
        {"\U0001F469\u200D\U0001F4BB", {"m10"}},
        {"\U0001F469", {}},
        {"\U0001F355 \u2764", {}},
        // AND, written or implied, joins emoji and words alike.
        {"\U0001F355 AND tonight", {"m5"}},
        {"pizza AND \U0001F355", {"m5"}},
        {"\"tonight\" AND \U0001F355", {"m5"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(found(c.query), c.guids) << c.query;
    }
    EXPECT_EQ(found("\U0001F355", std::vector<std::string>{kFlat}), Guids{});

    // Taking the emoji out of an OR, a NOT or a group would change what the
    // query means (NOT 🍕 would find the pizza): such a query is refused.
    for (const std::string query : {"\U0001F355 OR pizza", "pizza NOT \U0001F355", "NOT \U0001F355",
                                    "(thanks \u2764)", "NEAR(pizza \U0001F355)"}) {
        try {
            found(query);
            ADD_FAILURE() << query << " was searched";
        } catch (const ShadowDBError& error) {
            EXPECT_EQ(error.kind(), ShadowDBError::Kind::queryFailed) << query;
            EXPECT_NE(std::string(error.what()).find("Emoji"), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(found("\"OR\" \U0001F355"), Guids{}) << "a quoted OR is a word";
}

TEST_F(FindableContentTest, AnOlderDatabaseFindsEmojiWithoutCopyingAgain) {
    sync.performSync();
    DatabaseProbe(shadowPath)
        .exec("DROP TRIGGER message_emoji_follow_message; DROP TABLE message_emoji; "
              "PRAGMA user_version = 6");
    EXPECT_EQ(sync.performSync(), 0);
    EXPECT_EQ(found("\u2764"), (Guids{"m6", "m7"}));
    // A message rewritten later keeps its emoji.
    {
        ChatStoreWriter store(storePath, ChatStoreWriter::OpenExisting{});
        store.editMessage(5, "pasta instead \U0001F35D", 2000);
    }
    sync.performSync();
    EXPECT_EQ(found("\U0001F355"), Guids{});
    EXPECT_EQ(found("\U0001F35D"), Guids{"m5"});
}

TEST_F(FindableContentTest, ADeletedMessageTakesItsAttachmentNamesWithIt) {
    sync.performSync();
    {
        ChatStoreWriter store(storePath, ChatStoreWriter::OpenExisting{});
        store.deleteMessage(1);
    }
    sync.performSync();
    EXPECT_EQ(found("lease.pdf"), Guids{});
    DatabaseProbe probe(shadowPath);
    EXPECT_NO_THROW(probe.exec(
        "INSERT INTO attachment_names_fts(attachment_names_fts) VALUES ('integrity-check')"));
    EXPECT_EQ(probe.value("SELECT count(*) FROM attachment_names_fts WHERE attachment_names_fts "
                          "MATCH 'pdf'"),
              "0");
}

TEST_F(FindableContentTest, ADeletedAttachmentsNameIsLeftNowhereInTheFile) {
    sync.performSync();
    ASSERT_TRUE(testing::fileHolds(shadowPath, "heic") ||
                testing::fileHolds(shadowPath + "-wal", "heic"));
    {
        ChatStoreWriter store(storePath, ChatStoreWriter::OpenExisting{});
        store.deleteMessage(4);
    }
    sync.performSync();
    for (const char* suffix : {"", "-wal"}) {
        for (const char* word : {"heic", "HEIC"}) {
            EXPECT_FALSE(testing::fileHolds(shadowPath + suffix, word)) << word << suffix;
        }
    }
}

TEST_F(FindableContentTest, AnOlderDatabaseFindsNamesWithoutCopyingAgain) {
    sync.performSync();
    DatabaseProbe(shadowPath)
        .exec("DROP TRIGGER attachment_names_fts_insert; DROP TRIGGER attachment_names_fts_delete; "
              "DROP TRIGGER attachment_names_fts_update; DROP TABLE attachment_names_fts; "
              "DROP VIEW attachment_words; PRAGMA user_version = 5");
    EXPECT_EQ(found("lease.pdf"), Guids{}) << "without the index, names are not searched";
    EXPECT_EQ(sync.performSync(), 0);
    EXPECT_EQ(found("lease.pdf"), Guids{"m1"});
    EXPECT_EQ(found("preview"), Guids{});
}

TEST_F(FindableContentTest, AnOlderDatabaseFindsTextWithoutSpacesWithoutCopyingAgain) {
    sync.performSync();
    DatabaseProbe(shadowPath)
        .exec("DROP TRIGGER spaced_texts_follow_message; DROP TABLE spaced_fts; "
              "DROP VIEW spaced_words; DROP TABLE spaced_texts; PRAGMA user_version = 7");
    EXPECT_EQ(found("火锅"), Guids{}) << "the default tokenizer holds the sentence as one word";
    EXPECT_EQ(sync.performSync(), 0);
    EXPECT_EQ(found("火锅"), Guids{"m11"});
    // A message rewritten later is found by its new words only.
    {
        ChatStoreWriter store(storePath, ChatStoreWriter::OpenExisting{});
        store.editMessage(11, "明天我们去吃烤鸭吧", 2000);
    }
    sync.performSync();
    EXPECT_EQ(found("火锅"), Guids{});
    EXPECT_EQ(found("烤鸭"), Guids{"m11"});
}

TEST_F(FindableContentTest, ADeletedMessagesWordsWithoutSpacesAreLeftNowhereInTheFile) {
    sync.performSync();
    ASSERT_TRUE(testing::fileHolds(shadowPath, "锅") ||
                testing::fileHolds(shadowPath + "-wal", "锅"));
    {
        ChatStoreWriter store(storePath, ChatStoreWriter::OpenExisting{});
        store.deleteMessage(11);
    }
    sync.performSync();
    EXPECT_EQ(found("火锅"), Guids{});
    for (const char* suffix : {"", "-wal"}) {
        EXPECT_FALSE(testing::fileHolds(shadowPath + suffix, "锅")) << suffix;
    }
}

} // namespace
} // namespace orlune::core
