#include "services/FileSessionStore.hpp"

#include "services/FileError.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::rlm {
namespace {

using testing::readFile;
using testing::RlmTestFolder;
using testing::writeFile;

const char* const kMessageID = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";

ChatSession sampleSession() {
    ChatSession session;
    session.id = "0F6C3C2E-5C1B-4C55-9D7A-2B4E7C1D9A10";
    session.createdAt = ChatDate{780000000.25};
    session.lastMessageAt = ChatDate{780000123.123456789};
    session.title = "When is \"the party\"? / 🎉";
    session.messages = {
        ChatMessage{QUuid::fromString(QStringLiteral("6ba7b810-9dad-11d1-80b4-00c04fd430c8")),
                    ChatRole::user,
                    "When is the party?",
                    ChatDate{780000100.5},
                    {},
                    AnswerSource::unknown,
                    std::nullopt},
        ChatMessage{QUuid::createUuid(),
                    ChatRole::assistant,
                    "Saturday.",
                    ChatDate{780000123.123456789},
                    {},
                    AnswerSource::unknown,
                    std::nullopt},
        ChatMessage{QUuid::createUuid(),
                    ChatRole::system,
                    "note",
                    ChatDate{-5},
                    {},
                    AnswerSource::unknown,
                    std::nullopt},
    };
    session.messageCount = 3;
    return session;
}

class FileSessionStoreTest : public ::testing::Test {
protected:
    std::string path() const { return folder.dataFolder() + "/Orlune/sessions.json"; }
    FileSessionStore store() const { return FileSessionStore(path()); }
    void storeBytes(const std::string& bytes) const {
        std::filesystem::create_directories(folder.dataFolder() + "/Orlune");
        writeFile(path(), bytes);
    }

    RlmTestFolder folder;
};

TEST_F(FileSessionStoreTest, NoFileLoadsNothing) {
    EXPECT_TRUE(store().load().empty());
}

TEST_F(FileSessionStoreTest, SaveThenLoadGivesEqualSessionsInOrder) {
    ChatSession withSummary = sampleSession();
    withSummary.summary = "They talked about the party.";
    ChatSession second = sampleSession();
    second.id = ChatSession::newID();
    second.messages.clear();
    second.messageCount = 7; // kept as saved, not recomputed
    store().save({withSummary, second});
    EXPECT_EQ(store().load(), (std::vector<ChatSession>{withSummary, second}));
}

TEST_F(FileSessionStoreTest, WritesTheExactFormat) {
    ChatSession session;
    session.id = "S";
    session.createdAt = ChatDate{0};
    session.lastMessageAt = ChatDate{765432100.5};
    session.title = "a/b";
    session.messageCount = 1;
    session.messages = {
        ChatMessage{QUuid::fromString(QStringLiteral("6ba7b810-9dad-11d1-80b4-00c04fd430c8")),
                    ChatRole::assistant,
                    "hi",
                    ChatDate{12.25},
                    {},
                    AnswerSource::unknown,
                    std::nullopt}};
    store().save({session});
    EXPECT_EQ(
        readFile(path()),
        std::string(
            R"([{"id":"S","createdAt":0.0,"lastMessageAt":765432100.5,"title":"a/b","messageCount":1,)") +
            R"("messages":[{"id":")" + kMessageID +
            R"(","role":"assistant","text":"hi","timestamp":12.25}]}])");
    session.summary = "sum";
    store().save({session});
    EXPECT_NE(readFile(path()).find(R"(,"summary":"sum"})"), std::string::npos);
}

TEST_F(FileSessionStoreTest, EmptyListWritesBracketsInANewOwnerOnlyFolder) {
    store().save({});
    EXPECT_EQ(readFile(path()), "[]");
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder() + "/Orlune"), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(path()), 0600u);
    EXPECT_TRUE(store().load().empty());
}

TEST_F(FileSessionStoreTest, EverySaveLeavesTheFileOwnerOnly) {
    storeBytes("[]");
    ::chmod(path().c_str(), 0664);
    const mode_t previous = ::umask(0);
    store().save({sampleSession()});
    ::umask(previous);
    EXPECT_EQ(RlmTestFolder::mode(path()), 0600u);
    store().save({});
    EXPECT_EQ(RlmTestFolder::mode(path()), 0600u);
}

TEST_F(FileSessionStoreTest, SaveIntoAFileInTheWayFailsAndLeavesIt) {
    std::filesystem::create_directories(folder.dataFolder());
    writeFile(folder.dataFolder() + "/Orlune", "not a folder");
    EXPECT_THROW(store().save({}), FileError);
    EXPECT_EQ(readFile(folder.dataFolder() + "/Orlune"), "not a folder");
}

std::string sessionWith(const std::string& messageJSON, const std::string& extra = "") {
    return R"([{"id":"S","createdAt":1,"lastMessageAt":2,"title":"t","messageCount":1,"messages":[)" +
           messageJSON + "]" + extra + "}]";
}

TEST_F(FileSessionStoreTest, ReadingIsStrict) {
    const std::string goodMessage =
        std::string(R"({"id":")") + kMessageID + R"(","role":"user","text":"x","timestamp":3})";
    const struct {
        const char* name;
        std::string contents;
        bool readable;
    } cases[] = {
        {"good", sessionWith(goodMessage), true},
        {"extra keys",
         sessionWith(R"({"extra":[1],"id":")" + std::string(kMessageID) +
                         R"(","role":"user","text":"x","timestamp":3})",
                     R"(,"other":{})"),
         true},
        {"null summary", sessionWith(goodMessage, R"(,"summary":null)"), true},
        {"integral count written as float",
         R"([{"id":"S","createdAt":1,"lastMessageAt":2,"title":"t","messageCount":1.0,"messages":[]}])",
         true},
        {"wrong role",
         sessionWith(std::string(R"({"id":")") + kMessageID +
                     R"(","role":"bot","text":"x","timestamp":3})"),
         false},
        {"role in capitals",
         sessionWith(std::string(R"({"id":")") + kMessageID +
                     R"(","role":"User","text":"x","timestamp":3})"),
         false},
        {"no timestamp",
         sessionWith(std::string(R"({"id":")") + kMessageID + R"(","role":"user","text":"x"})"),
         false},
        {"timestamp as text",
         sessionWith(std::string(R"({"id":")") + kMessageID +
                     R"(","role":"user","text":"x","timestamp":"3"})"),
         false},
        {"not a UUID",
         sessionWith(R"({"id":"6BA7B810-9DAD-11D1-80B4","role":"user","text":"x","timestamp":3})"),
         false},
        {"UUID in braces",
         sessionWith(
             R"({"id":"{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}","role":"user","text":"x","timestamp":3})"),
         false},
        {"no title",
         R"([{"id":"S","createdAt":1,"lastMessageAt":2,"messageCount":0,"messages":[]}])", false},
        {"fractional count",
         R"([{"id":"S","createdAt":1,"lastMessageAt":2,"title":"t","messageCount":1.5,"messages":[]}])",
         false},
        {"summary not text", sessionWith(goodMessage, R"(,"summary":5)"), false},
        {"model not text",
         sessionWith(std::string(R"({"id":")") + kMessageID +
                     R"(","role":"assistant","text":"x","timestamp":3,"model":7})"),
         false},
        {"one bad session of two",
         "[" + sessionWith(goodMessage).substr(1, sessionWith(goodMessage).size() - 2) +
             R"(,{"id":"T"}])",
         false},
        {"not JSON", "sessions", false},
        {"empty file", "", false},
        {"object instead of array", "{}", false},
        {"not UTF-8",
         sessionWith(std::string(R"({"id":")") + kMessageID +
                     "\",\"role\":\"user\",\"text\":\"\xff\",\"timestamp\":3}"),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        storeBytes(c.contents);
        if (c.readable) {
            EXPECT_EQ(store().load().size(), 1u);
        } else {
            try {
                store().load();
                ADD_FAILURE() << "loaded";
            } catch (const FileError& error) {
                EXPECT_EQ(error.kind(), FileError::Kind::decode);
                EXPECT_NE(std::string(error.what()).find(path()), std::string::npos);
            }
        }
    }
}

// Who wrote an answer is kept as the helper said it: "model" names the model,
// null is the index alone. An answer saved before answers recorded it is
// known by the first line the helper then gave answers from the index.
TEST_F(FileSessionStoreTest, WhoWroteAnAnswerIsKept) {
    ChatSession session = sampleSession();
    session.messages[1].source = AnswerSource::model;
    session.messages[1].model = "gpt-test";
    ChatMessage fromIndex = ChatMessage::make(ChatRole::assistant, "Found 2 messages.");
    fromIndex.source = AnswerSource::index;
    session.messages.push_back(fromIndex);
    store().save({session});
    const std::string written = readFile(path());
    EXPECT_NE(written.find(R"(,"model":"gpt-test"})"), std::string::npos) << written;
    EXPECT_NE(written.find(R"(,"model":null})"), std::string::npos) << written;
    size_t models = 0;
    for (size_t at = written.find(R"("model")"); at != std::string::npos;
         at = written.find(R"("model")", at + 1)) {
        ++models;
    }
    EXPECT_EQ(models, 2u) << "the question and the note say nothing of a model";
    EXPECT_EQ(store().load(), std::vector<ChatSession>{session});

    const struct {
        const char* name;
        std::string message;
        AnswerSource source;
    } older[] = {
        {"an answer from the index",
         R"("role":"assistant","text":"Answer from your messages (no model used: no API key is configured)\n\n1. x")",
         AnswerSource::index},
        {"a model's answer", R"("role":"assistant","text":"Saturday.")", AnswerSource::unknown},
        {"a question quoting the line",
         R"("role":"user","text":"Answer from your messages (no model used: why?")",
         AnswerSource::unknown},
    };
    for (const auto& c : older) {
        SCOPED_TRACE(c.name);
        storeBytes(sessionWith(std::string(R"({"id":")") + kMessageID + R"(",)" + c.message +
                               R"(,"timestamp":3})"));
        const std::vector<ChatSession> loaded = store().load();
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0].messages.at(0).source, c.source);
        EXPECT_EQ(loaded[0].messages.at(0).model, std::nullopt);
    }
}

TEST_F(FileSessionStoreTest, AnUnreadableFileIsDescribedWithoutItsMessages) {
    // Cut off inside a message: the parser's own text would quote it.
    const std::string whole =
        sessionWith(std::string(R"({"id":")") + kMessageID +
                    R"(","role":"user","text":"my bank PIN is 4521","timestamp":3})");
    storeBytes(whole.substr(0, whole.find("4521") + 4));
    try {
        store().load();
        ADD_FAILURE() << "loaded";
    } catch (const FileError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.find("PIN"), std::string::npos) << text;
        EXPECT_EQ(text.find("4521"), std::string::npos) << text;
        EXPECT_NE(text.find("byte"), std::string::npos) << "where it stopped: " << text;
    }
}

TEST_F(FileSessionStoreTest, LowerCaseIdsComeBackUpperCase) {
    storeBytes(sessionWith(
        R"({"id":"6ba7b810-9dad-11d1-80b4-00c04fd430c8","role":"system","text":"x","timestamp":3})"));
    const auto sessions = store().load();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].messages.at(0).idText(), kMessageID);
    EXPECT_EQ(sessions[0].messages.at(0).role, ChatRole::system);
    store().save(sessions);
    EXPECT_NE(readFile(path()).find(kMessageID), std::string::npos);
    EXPECT_EQ(readFile(path()).find("6ba7b810"), std::string::npos);
}

TEST_F(FileSessionStoreTest, DatesCountFromTheStartOf2001) {
    storeBytes(
        R"([{"id":"S","createdAt":0,"lastMessageAt":7.6e8,"title":"t","messageCount":0,"messages":[]}])");
    const auto sessions = store().load();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].createdAt.toSystemTime(),
              std::chrono::system_clock::time_point(std::chrono::seconds(978307200)));
    EXPECT_EQ(sessions[0].lastMessageAt.secondsSinceReferenceDate, 7.6e8);
    EXPECT_EQ(sessions[0].summary, std::nullopt);
}

TEST(ChatRoleTest, RawValues) {
    for (ChatRole role : {ChatRole::user, ChatRole::assistant, ChatRole::system}) {
        EXPECT_EQ(chatRoleFromRawValue(toRawValue(role)), role);
    }
    EXPECT_EQ(chatRoleFromRawValue(""), std::nullopt);
    EXPECT_EQ(toRawValue(ChatRole::assistant), "assistant");
}

TEST(ChatMessageTest, NewMessagesHaveDistinctUpperCaseIds) {
    const ChatMessage first = ChatMessage::make(ChatRole::user, "a");
    const ChatMessage second = ChatMessage::make(ChatRole::user, "a");
    EXPECT_NE(first, second);
    EXPECT_EQ(first.idText(), QString::fromStdString(first.idText()).toUpper().toStdString());
    EXPECT_EQ(first.idText().size(), 36u);
    const std::string session = ChatSession::newID();
    EXPECT_EQ(session, QString::fromStdString(session).toUpper().toStdString());
}

} // namespace
} // namespace orlune::rlm
