#include "store/ChatDBReader.hpp"

#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/SampleStore.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace orlune::core {
namespace {

using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;
using samplestore::TypedStreamWriter;
using testing::ScopedEnv;
using testing::TempDir;

std::string body(std::string_view text) {
    return TypedStreamWriter::attributedBody(text);
}

// A store in a temporary folder, with HOME and the data folder pointed there.
class ChatDBReaderTest : public ::testing::Test {
protected:
    ChatDBReaderTest() : env_("HOME", dir_.path().string()), path_(dir_.file("chat.db")) {
        env_.set("XDG_DATA_HOME", dir_.file("data"));
        env_.set("ORLUNE_DATA_DIR", dir_.file("data"));
        env_.set("CHAT_DB_PATH", std::nullopt);
    }

    // Handles 1 (+15550001, iMessage) and 2 (bob@example.com, no service);
    // chat 1 one-to-one with handle 1, chat 2 a group named "Trip" with both,
    // chat 3 with an empty name and style 0.
    ChatStoreWriter& store() {
        if (!writer_) {
            writer_ = std::make_unique<ChatStoreWriter>(path_);
            writer_->addHandle({1, "+15550001", "iMessage"});
            writer_->addHandle({2, "bob@example.com", std::nullopt});
            writer_->addChat({1, "iMessage;-;+15550001", std::nullopt,
                              samplestore::kDirectChatStyle, "+15550001"});
            writer_->addChat(
                {2, "iMessage;+;chat42", "Trip", samplestore::kGroupChatStyle, "chat42"});
            writer_->addChat({3, "iMessage;+;chat7", "", 0, "chat7"});
            writer_->addChatMember(2, 2);
            writer_->addChatMember(2, 1);
            writer_->addChatMember(1, 1);
        }
        return *writer_;
    }

    void message(int64_t rowid, int64_t date, std::optional<std::string> text,
                 std::optional<std::string> attributedBody = std::nullopt,
                 std::optional<int64_t> chat = 1, bool fromMe = false, int64_t handle = 1,
                 std::optional<std::string> guid = {}) {
        MessageRow row;
        row.rowid = rowid;
        row.guid = guid ? guid : "guid-" + std::to_string(rowid);
        row.text = std::move(text);
        row.attributedBody = std::move(attributedBody);
        row.date = date;
        row.isFromMe = fromMe;
        row.handleId = handle;
        store().addMessage(row);
        if (chat) {
            store().joinMessageToChat(rowid, *chat, date);
        }
    }

    ChatDBReader open() {
        if (writer_) {
            writer_->close();
        }
        return ChatDBReader(path_);
    }

    TempDir dir_;
    ScopedEnv env_;
    std::string path_;
    std::unique_ptr<ChatStoreWriter> writer_;
};

std::vector<int64_t> rowids(const FetchResult& result) {
    std::vector<int64_t> out;
    for (const auto& m : result.messages) {
        out.push_back(m.sourceRowid());
    }
    return out;
}

TEST_F(ChatDBReaderTest, CursorOrdersByDateThenRowid) {
    message(1, 200, "late, low rowid");
    message(2, 100, "b");
    message(3, 100, "c");
    message(4, 100, "d");
    message(5, 50, "early");
    ChatDBReader reader = open();

    struct Case {
        int64_t afterDate, afterRowid;
        int limit;
        std::vector<int64_t> expected;
        int64_t lastDate, lastRowid;
    };
    const Case cases[] = {
        {0, 0, 10, {5, 2, 3, 4, 1}, 200, 1},
        {100, 3, 10, {4, 1}, 200, 1}, // equal date: only higher ROWIDs
        {100, 4, 10, {1}, 200, 1},    // greater date: whatever its ROWID
        {50, 5, 2, {2, 3}, 100, 3},   // limit cuts the page
        {200, 1, 10, {}, 200, 1},     // nothing after: the cursor comes back unchanged
        {300, 0, 10, {}, 300, 0},
    };
    for (const auto& c : cases) {
        FetchResult page = reader.fetchMessages(c.afterDate, c.afterRowid, c.limit);
        EXPECT_EQ(rowids(page), c.expected) << c.afterDate << "/" << c.afterRowid;
        EXPECT_EQ(page.rawRowCount, static_cast<int64_t>(c.expected.size()));
        EXPECT_EQ(page.lastRawTimestamp, c.lastDate);
        EXPECT_EQ(page.lastRawRowid, c.lastRowid);
    }
}

TEST_F(ChatDBReaderTest, TextComesFromTheColumnOrElseTheArchive) {
    message(1, 1, "plain");
    message(2, 2, "column wins", body("archive text"));
    message(3, 3, std::nullopt, body("only in the archive"));
    message(4, 4, "", body("empty column, archive text"));
    message(5, 5, std::nullopt, body(std::string(300, 'x')));
    message(6, 6, "👍");
    message(7, 7, std::nullopt, body("😂 🙏")); // emoji alone, only in the archive
    ChatDBReader reader = open();
    FetchResult page = reader.fetchMessages(0, 0, 100);
    std::vector<std::string> texts;
    for (const auto& m : page.messages) {
        texts.push_back(m.text());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"plain", "column wins", "only in the archive",
                                               "empty column, archive text", std::string(300, 'x'),
                                               "👍", "😂 🙏"}));
}

TEST_F(ChatDBReaderTest, PageOfDroppedRowsStillMovesTheCursor) {
    samplestore::TextAttributes attachment;
    attachment.fileTransferGuid = "at_0_ABC";
    samplestore::AttributedBodyOptions attachmentOnly;
    attachmentOnly.runs = {{1, attachment}};
    message(1, 10, std::nullopt);                             // neither text nor body
    message(2, 11, "", "");                                   // empty text, empty body
    message(3, 12, std::nullopt, std::string("\x01\x02", 2)); // body the decoder cannot read
    message(4, 13, std::nullopt,
            TypedStreamWriter::attributedBody("\xEF\xBF\xBC", attachmentOnly)); // attachment only
    message(5, 14, std::nullopt, body(" ?! ")); // no letter, number or emoji
    ChatDBReader reader = open();
    store(); // keep the writer closed; rows with no guid need raw SQL
    testing::DatabaseProbe(path_).exec("INSERT INTO message (ROWID, guid, text, date, handle_id) "
                                       "VALUES (6, NULL, 'no guid', 15, 1)");
    FetchResult page = reader.fetchMessages(0, 0, 100);
    EXPECT_TRUE(page.messages.empty());
    EXPECT_EQ(page.rawRowCount, 6);
    EXPECT_EQ(page.lastRawTimestamp, 15);
    EXPECT_EQ(page.lastRawRowid, 6);
}

TEST_F(ChatDBReaderTest, SenderChatAndGroupFields) {
    message(1, 1, "received in a group", std::nullopt, 2, false, 2);
    message(2, 2, "sent by me", std::nullopt, 1, true, 1);
    message(3, 3, "handle row missing", std::nullopt, 1, false, 99);
    message(4, 4, "in no chat", std::nullopt, std::nullopt, false, 1);
    message(5, 5, "empty chat name", std::nullopt, 3, false, 1);
    ChatDBReader reader = open();
    FetchResult page = reader.fetchMessages(0, 0, 100);
    ASSERT_EQ(page.messages.size(), 5u);

    struct Expected {
        std::string sender, chatId;
        std::optional<std::string> chatName;
        bool isFromMe, isGroup;
    };
    const Expected expected[] = {
        {"bob@example.com", "iMessage;+;chat42", "Trip", false, true},
        {"me", "iMessage;-;+15550001", std::nullopt, true, false},
        {"unknown", "iMessage;-;+15550001", std::nullopt, false, false},
        {"+15550001", "unknown", std::nullopt, false, false},
        {"+15550001", "iMessage;+;chat7", "", false, false},
    };
    for (size_t i = 0; i < page.messages.size(); ++i) {
        const auto& m = page.messages[i];
        const auto& e = expected[i];
        EXPECT_EQ(m.sender(), e.sender) << i;
        EXPECT_EQ(m.chatId(), e.chatId) << i;
        EXPECT_EQ(m.chatName(), e.chatName) << i;
        EXPECT_EQ(m.isFromMe(), e.isFromMe) << i;
        EXPECT_EQ(m.isGroup(), e.isGroup) << i;
        EXPECT_EQ(m.guid(), "guid-" + std::to_string(i + 1));
        EXPECT_EQ(m.timestamp(), static_cast<int64_t>(i + 1));
        EXPECT_FALSE(m.hasAttachments());
    }
}

TEST_F(ChatDBReaderTest, MessageInTwoChatsComesBackTwice) {
    message(1, 1, "shared", std::nullopt, 1);
    store().joinMessageToChat(1, 2, 1);
    ChatDBReader reader = open();
    FetchResult page = reader.fetchMessages(0, 0, 100);
    ASSERT_EQ(page.messages.size(), 2u);
    EXPECT_EQ(page.rawRowCount, 2);
    EXPECT_EQ(page.messages[0].guid(), page.messages[1].guid());
    EXPECT_NE(page.messages[0].chatId(), page.messages[1].chatId());
}

TEST_F(ChatDBReaderTest, ParticipantsAndCount) {
    message(1, 1, "a");
    message(2, 2, std::nullopt);
    ChatDBReader reader = open();
    const std::vector<ChatParticipant> expected = {
        {"iMessage;+;chat42", 1, "+15550001", "iMessage"},
        {"iMessage;+;chat42", 2, "bob@example.com", std::nullopt},
        {"iMessage;-;+15550001", 1, "+15550001", "iMessage"},
    };
    EXPECT_EQ(reader.fetchChatParticipants(), expected);
    EXPECT_EQ(reader.totalMessageCount(), 2);
}

TEST_F(ChatDBReaderTest, ReadingLeavesTheStoreByteIdentical) {
    message(1, 1, "a");
    message(2, 2, std::nullopt, body("b"));
    open();
    const std::string before = testing::readFile(path_);
    auto readEverything = [this] {
        ChatDBReader reader(path_);
        EXPECT_EQ(reader.fetchMessages(0, 0, 100).messages.size(), 2u);
        reader.fetchChatParticipants();
        reader.totalMessageCount();
    };
    readEverything();
    EXPECT_EQ(testing::readFile(path_), before);
    EXPECT_FALSE(pathExists(path_ + "-journal"));
    EXPECT_FALSE(pathExists(path_ + "-wal"));

    // The operating system keeps its store in WAL mode.
    testing::DatabaseProbe(path_).exec("PRAGMA journal_mode = WAL");
    const std::string walBefore = testing::readFile(path_);
    readEverything();
    EXPECT_EQ(testing::readFile(path_), walBefore);
}

TEST_F(ChatDBReaderTest, OpeningFailures) {
    try {
        ChatDBReader reader(dir_.file("missing.db"));
        FAIL() << "opened a missing store";
    } catch (const ChatDBReader::Error& e) {
        EXPECT_EQ(e.kind(), ChatDBReader::Error::Kind::databaseNotFound);
        EXPECT_STREQ(e.what(), "chat.db not found");
    }
    // A file that is there but is no database.
    const std::string notADatabase = dir_.file("odd?name.db");
    testing::writeFile(notADatabase, std::string(4096, 'x'));
    try {
        ChatDBReader reader(notADatabase);
        FAIL() << "opened " << notADatabase;
    } catch (const ChatDBReader::Error& e) {
        EXPECT_EQ(e.kind(), ChatDBReader::Error::Kind::failedToOpen);
        EXPECT_EQ(std::string(e.what()), "Failed to open database: " + e.message());
        EXPECT_FALSE(e.message().empty());
    }
}

TEST_F(ChatDBReaderTest, StatementThatCannotBePreparedThrowsQueryFailed) {
    message(1, 1, "a");
    store().execute("ALTER TABLE message DROP COLUMN attributedBody");
    store().execute("DROP TABLE chat_handle_join");
    ChatDBReader reader = open();
    try {
        reader.fetchMessages(0, 0, 10);
        FAIL() << "prepared a page query without attributedBody";
    } catch (const ChatDBReader::Error& e) {
        EXPECT_EQ(e.kind(), ChatDBReader::Error::Kind::queryFailed);
        EXPECT_STREQ(e.what(), "Query failed: no such column: m.attributedBody");
    }
    EXPECT_THROW(reader.fetchChatParticipants(), ChatDBReader::Error);
    EXPECT_EQ(reader.totalMessageCount(), 1);
}

TEST_F(ChatDBReaderTest, BusyStoreEndsThePageQuietly) {
    message(1, 1, "a");
    ChatDBReader reader = open();
    // Load the schema first: a store locked while a statement is being
    // prepared fails the preparation instead.
    ASSERT_EQ(reader.totalMessageCount(), 1);
    testing::DatabaseProbe other(path_);
    other.exec("BEGIN EXCLUSIVE");
    FetchResult page = reader.fetchMessages(0, 0, 10);
    EXPECT_EQ(page.rawRowCount, 0);
    EXPECT_EQ(page.lastRawRowid, 0);
    other.exec("ROLLBACK");
    EXPECT_EQ(reader.fetchMessages(0, 0, 10).rawRowCount, 1);
}

// Reads that used to end quietly at a failed step, answering with the rows
// (or the count of 0) they had: on a damaged store each one fails.
TEST_F(ChatDBReaderTest, ReadsOfADamagedStoreFailInsteadOfAnsweringShort) {
    store().beginTransaction();
    for (int64_t i = 1; i <= 600; ++i) {
        message(i, i, "message number " + std::to_string(i) + " " + std::string(200, 'x'));
    }
    for (int64_t handle = 10; handle < 3000; ++handle) {
        store().addHandle(
            {handle, "member" + std::to_string(handle) + "@example.com", std::string("iMessage")});
        store().addChatMember(2, handle);
    }
    store().commit();
    store().close();
    {
        testing::DatabaseProbe probe(path_);
        for (const auto& row : probe.rows("SELECT name FROM sqlite_master WHERE type IN "
                                          "('table', 'index') AND tbl_name IN "
                                          "('message', 'chat_handle_join')")) {
            const std::vector<int64_t> leaves = probe.leafPages(row.at(0));
            if (leaves.size() > 1) {
                testing::damagePage(path_, leaves[leaves.size() / 2]);
            }
        }
    }
    ChatDBReader reader(path_);
    const std::pair<const char*, std::function<void()>> reads[] = {
        {"fetchChatParticipants", [&] { reader.fetchChatParticipants(); }},
        {"totalMessageCount", [&] { reader.totalMessageCount(); }},
    };
    for (const auto& [name, read] : reads) {
        try {
            read();
            ADD_FAILURE() << name << " answered";
        } catch (const ChatDBReader::Error& e) {
            EXPECT_EQ(e.kind(), ChatDBReader::Error::Kind::queryFailed) << name;
            EXPECT_STREQ(e.what(), "Query failed: database disk image is malformed") << name;
        }
    }
}

TEST_F(ChatDBReaderTest, CorruptionPartWayThrowsAfterTheEarlierPages) {
    store().beginTransaction();
    for (int64_t i = 1; i <= 600; ++i) {
        message(i, i, "message number " + std::to_string(i) + " " + std::string(200, 'x'));
    }
    store().commit();
    // Overwrite a leaf page of the message table in the second half of its
    // rows.
    store().close();
    const std::vector<int64_t> leaves = testing::DatabaseProbe(path_).leafPages("message");
    ASSERT_GT(leaves.size(), 10u);
    testing::damagePage(path_, leaves[leaves.size() * 2 / 3]);

    ChatDBReader reader(path_);
    int64_t afterDate = 0;
    int64_t afterRowid = 0;
    int64_t rowsBefore = 0;
    try {
        for (;;) {
            FetchResult page = reader.fetchMessages(afterDate, afterRowid, 50);
            ASSERT_EQ(page.rawRowCount, 50) << "a short page would end the pass as a success";
            rowsBefore += page.rawRowCount;
            afterDate = page.lastRawTimestamp;
            afterRowid = page.lastRawRowid;
        }
    } catch (const ChatDBReader::Error& e) {
        EXPECT_EQ(e.kind(), ChatDBReader::Error::Kind::queryFailed);
        EXPECT_EQ(std::string(e.what()), "Query failed: " + e.message());
        EXPECT_NE(e.message().find("malformed"), std::string::npos) << e.message();
    }
    EXPECT_GT(rowsBefore, 100);
    EXPECT_LT(rowsBefore, 600);
}

TEST_F(ChatDBReaderTest, DefaultPathHonoursChatDbPath) {
    EXPECT_EQ(ChatDBReader::defaultChatDBPath(), dir_.file("Library/Messages/chat.db"));
    {
        ScopedEnv empty("CHAT_DB_PATH", "");
        EXPECT_EQ(ChatDBReader::defaultChatDBPath(), "");
    }
    message(1, 1, "from the variable");
    open();
    ScopedEnv set("CHAT_DB_PATH", path_);
    EXPECT_EQ(ChatDBReader::defaultChatDBPath(), path_);
    ChatDBReader reader;
    EXPECT_EQ(reader.path(), path_);
    EXPECT_EQ(reader.totalMessageCount(), 1);
}

TEST(ChatDBReaderHex, DecodesPairsAndRejectsNonHex) {
    struct Case {
        std::string hex;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"", ""},
        {"4", ""},
        {"4A6b", "Jk"},
        {"414", "A"},
        {"00FF", std::string("\x00\xFF", 2)},
        {"4G", std::nullopt},
        {"zz41", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeHex(c.hex), c.expected) << c.hex;
    }
}

// Every message of a sample store reads the same whether its text is in the
// archive or in the text column.
TEST(ChatDBReaderSampleStore, ArchiveTextsMatchTheTextColumn) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path().string());
    samplestore::SampleStoreOptions options;
    options.messageCount = 3000;
    options.seed = 7;
    const auto summary = samplestore::buildSampleStore(dir.file("archive.db"), options);
    options.textAlwaysInTextColumn = true;
    samplestore::buildSampleStore(dir.file("plain.db"), options);
    EXPECT_GE(summary.archiveOnly * 100, summary.messages * 35);

    auto readAll = [](const std::string& path) {
        ChatDBReader reader(path);
        std::vector<std::pair<std::string, std::string>> all;
        int64_t date = 0, rowid = 0;
        for (;;) {
            FetchResult page = reader.fetchMessages(date, rowid, 1000);
            for (const auto& m : page.messages) {
                all.emplace_back(m.guid(), m.text());
            }
            date = page.lastRawTimestamp;
            rowid = page.lastRawRowid;
            if (page.rawRowCount < 1000) {
                break;
            }
        }
        return all;
    };
    const auto fromArchives = readAll(dir.file("archive.db"));
    const auto fromColumn = readAll(dir.file("plain.db"));
    EXPECT_EQ(fromArchives, fromColumn);
    EXPECT_GT(fromArchives.size(), static_cast<size_t>(summary.messages * 9 / 10));
}

} // namespace
} // namespace orlune::core
