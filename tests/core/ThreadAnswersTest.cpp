// Threads: a reply made in a thread keeps the guid of the thread's first
// message through a sync (a store too old for threads syncs without them),
// a database of the version before threads fills them on its next sync, a
// message is read with its thread, and an answer that is a threaded reply
// sharing no word with the question, far from the question in its chat, is
// found above the chat's next message and the same words elsewhere.

#include "answer/AnswerFinder.hpp"
#include "answer/AnswerWindows.hpp"
#include "shadow/ShadowSchema.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/InstantText.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using samplestore::AddressBookWriter;
using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;
using samplestore::StoreEra;
using testing::DatabaseProbe;
using ::testing::ElementsAre;
using testing::instantAt;
using ::testing::IsEmpty;

// Handles: 1 Lena Fischer, 2 Theo Marsh. Chats: 1 with Lena, 2 with Theo.
struct Row {
    const char* guid;
    const char* text;
    const char* utc;
    int64_t handle; // 0: sent by me
    int64_t chat;
    const char* thread = nullptr; // the thread's first message, for a reply in one
};
const Row kRows[] = {
    // My question; Lena answers in its thread half a day later, after other
    // talk, with no word of the question.
    {"cat-ask", "Could you feed the cat while I'm in Lisbon?", "2025-12-01 09:00", 0, 1},
    {"lena-next", "ugh my train is stuck outside Reading", "2025-12-01 09:02", 1, 1},
    {"me-1", "oh no, again?", "2025-12-01 09:03", 0, 1},
    {"lena-2", "third time this week", "2025-12-01 09:04", 1, 1},
    {"me-3", "you should complain", "2025-12-01 09:05", 0, 1},
    {"lena-4", "I did, no answer", "2025-12-01 09:06", 1, 1},
    {"me-5", "typical", "2025-12-01 09:07", 0, 1},
    {"lena-6", "see you at the match later?", "2025-12-01 12:00", 1, 1},
    {"cat-reply", "sure, I'll swing by at 6 each evening", "2025-12-01 21:00", 1, 1, "cat-ask"},
    {"cat-ack", "ok", "2025-12-01 21:01", 1, 1, "cat-ask"},
    {"cat-thanks", "thank you!! she'll love you", "2025-12-01 21:05", 0, 1, "cat-ask"},
    // The question's words from someone else and at another time.
    {"theo-cat", "can you feed the cat again, she's hungry", "2025-11-20 10:00", 2, 2},
    {"lena-cat-old", "the cat knocked over the plant", "2024-06-02 10:00", 1, 1},
    // Theo asks; my threaded answer comes the next day.
    {"permit-ask", "do you still have the parking permit?", "2025-12-03 08:00", 2, 2},
    {"me-after", "running late, talk later", "2025-12-03 08:01", 0, 2},
    {"permit-reply", "it's in the glovebox of the blue car", "2025-12-04 19:00", 0, 2,
     "permit-ask"},
    // A thread whose first message holds nothing asked for; the reply holds
    // the code.
    {"door-ask", "what's the door code for your building again", "2025-12-05 18:00", 0, 2},
    {"door-reply", "4471 then press the bell", "2025-12-06 07:30", 2, 2, "door-ask"},
    // An empty thread guid is no thread.
    {"empty-thread", "nothing to see here", "2025-12-07 10:00", 2, 2, ""},
};

void writeStore(const std::string& path, StoreEra era) {
    ChatStoreWriter store(path, ChatStoreWriter::CreateOptions{.era = era});
    const char* numbers[] = {"+15550100001", "+15550100002"};
    for (int64_t i = 0; i < 2; ++i) {
        store.addHandle(
            HandleRow{i + 1, std::string(numbers[i]), std::string("iMessage"), std::string("us")});
    }
    using samplestore::kDirectChatStyle;
    store.addChat(
        ChatRow{1, "iMessage;-;+15550100001", std::nullopt, kDirectChatStyle, "+15550100001"});
    store.addChat(
        ChatRow{2, "iMessage;-;+15550100002", std::nullopt, kDirectChatStyle, "+15550100002"});
    store.addChatMember(1, 1);
    store.addChatMember(2, 2);
    int64_t rowid = 0;
    for (const Row& r : kRows) {
        MessageRow row;
        row.rowid = ++rowid;
        row.guid = r.guid;
        row.text = r.text;
        // Nanoseconds since 2001, in the era's unit.
        row.date =
            testing::peopleStoreDate(r.utc) / 1'000'000'000 * samplestore::storeTicksPerSecond(era);
        row.isFromMe = r.handle == 0;
        row.handleId = r.handle;
        if (r.thread != nullptr) {
            row.threadOriginatorGuid = r.thread;
            row.threadOriginatorPart = "0:0:1";
        }
        store.addMessage(row);
        store.joinMessageToChat(row.rowid, r.chat, row.date);
    }
}

class ThreadAnswersTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    testing::FakeEnvironment environment;
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    // Monday 8 December 2025, 12:00 in London.
    TimeContext now{instantAt("2025-12-08T12:00+00:00"), "Europe/London", "en_GB"};

    void sync(StoreEra era = StoreEra::Recent) {
        if (!std::filesystem::exists(storePath)) {
            writeStore(storePath, era);
        }
        const std::string books = dir.file("AddressBook");
        if (!std::filesystem::exists(books)) {
            AddressBookWriter book(AddressBookWriter::bookPath(books));
            book.addContact(
                {.firstName = "Lena", .lastName = "Fischer", .phones = {"+15550100001"}});
            book.addContact({.firstName = "Theo", .lastName = "Marsh", .phones = {"+15550100002"}});
        }
        environment.home = dir.path().string();
        environment.variables["ADDRESS_BOOK_PATH"] = books;
        environment.variables["LANG"] = "en_US.UTF-8";
        ShadowSync(storePath, shadowPath, environment).performSync();
    }

    std::vector<std::vector<std::string>> threadedReplies() {
        return DatabaseProbe(shadowPath)
            .rows("SELECT guid, thread_originator_guid FROM messages "
                  "WHERE thread_originator_guid IS NOT NULL ORDER BY guid");
    }

    std::vector<std::string> threadOf(const std::string& guid) {
        ShadowDBReader db(shadowPath);
        std::vector<std::string> guids;
        for (const SearchResult& message : db.messageThread(guid, kThreadMessages, QueryBounds{})) {
            guids.push_back(message.guid);
        }
        return guids;
    }
};

const std::vector<std::vector<std::string>> kThreadedReplies = {
    {"cat-ack", "cat-ask"},     {"cat-reply", "cat-ask"},       {"cat-thanks", "cat-ask"},
    {"door-reply", "door-ask"}, {"permit-reply", "permit-ask"},
};

TEST_F(ThreadAnswersTest, SyncKeepsTheThreadOfEachReply) {
    sync();
    EXPECT_EQ(threadedReplies(), kThreadedReplies);
}

TEST_F(ThreadAnswersTest, AStoreTooOldForThreadsSyncsWithoutThem) {
    sync(StoreEra::VeryOld);
    EXPECT_EQ(DatabaseProbe(shadowPath).value("SELECT COUNT(*) FROM messages"),
              std::to_string(std::size(kRows)));
    EXPECT_THAT(threadedReplies(), IsEmpty());
    EXPECT_THAT(threadOf("cat-ask"), IsEmpty());
}

TEST_F(ThreadAnswersTest, ADatabaseFromBeforeThreadsIsReadWithoutThemAndFilledByTheNextSync) {
    sync();
    DatabaseProbe(shadowPath)
        .exec("DROP INDEX idx_messages_thread; "
              "ALTER TABLE messages DROP COLUMN thread_originator_guid; "
              "PRAGMA user_version = 10"); // threads came with version 11

    // Read as it is (a reader never upgrades): no threads, answers still.
    EXPECT_THAT(threadOf("cat-ask"), IsEmpty());
    {
        ShadowDBReader db(shadowPath);
        AnswerFinder finder(db);
        EXPECT_FALSE(finder.find("What did Lena say about the cat?", now, 5, QueryBounds{})
                         .messages.empty());
    }

    sync();
    EXPECT_EQ(DatabaseProbe(shadowPath).value("PRAGMA user_version"),
              std::to_string(ShadowSchema::latestVersion()));
    EXPECT_EQ(threadedReplies(), kThreadedReplies);
    EXPECT_EQ(DatabaseProbe(shadowPath).ftsIntegrity(), "ok");
}

TEST_F(ThreadAnswersTest, AMessageIsReadWithItsThread) {
    sync();
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        // The first message: its replies, oldest first.
        {"cat-ask", {"cat-reply", "cat-ack", "cat-thanks"}},
        // A reply: the first message and the other replies.
        {"cat-ack", {"cat-ask", "cat-reply", "cat-thanks"}},
        {"permit-reply", {"permit-ask"}},
        // No thread, an empty thread guid, no such message.
        {"lena-next", {}},
        {"empty-thread", {}},
        {"no-such-guid", {}},
    };
    for (const auto& [guid, expected] : cases) {
        EXPECT_EQ(threadOf(guid), expected) << guid;
    }
    ShadowDBReader db(shadowPath);
    EXPECT_THAT(db.messageThread("cat-ask", 1, QueryBounds{}),
                ElementsAre(::testing::Field(&SearchResult::guid, "cat-reply")));
    EXPECT_THAT(db.messageThread("cat-ask", 0, QueryBounds{}), IsEmpty());
}

TEST_F(ThreadAnswersTest, TheThreadedReplyAnswers) {
    sync();
    ShadowDBReader db(shadowPath);
    AnswerFinder finder(db);
    const std::pair<const char*, const char*> cases[] = {
        // Their reply to my question, not my question nor the chat's next
        // message, nor Theo's words.
        {"What did Lena say when I asked if she could feed the cat?", "cat-reply"},
        // My reply to their question.
        {"What did I tell Theo about the parking permit?", "permit-reply"},
        // The kind asked for is in the thread, far from the question.
        {"What's the door code for Theo's building?", "door-reply"},
        // About what I wrote: my message, not the reply.
        {"What did I ask Lena about the cat?", "cat-ask"},
    };
    for (const auto& [question, expected] : cases) {
        const FoundAnswer found = finder.find(question, now, 5, QueryBounds{});
        ASSERT_FALSE(found.messages.empty()) << question;
        EXPECT_EQ(found.messages[0].message.guid, expected) << question;
    }
}

SearchResult message(const char* guid, bool fromMe, const char* text, int64_t minute) {
    SearchResult m;
    m.guid = guid;
    m.chatId = "iMessage;-;+15550100001";
    m.sender = fromMe ? "me" : "+15550100001";
    m.isFromMe = fromMe;
    m.text = text;
    // Store dates in nanoseconds from 2025.
    m.timestamp = (788'000'000 + minute * 60) * 1'000'000'000;
    return m;
}

TEST(PickFromThread, RepliesAfterTheHitFromTheSideAskedAbout) {
    const SearchResult hit = message("hit", true, "can you feed the cat", 10);
    const std::vector<SearchResult> thread = {
        message("before", false, "I'm away next week", 0),
        message("reply", false, "sure, at 6", 20),
        message("ack", false, "ok", 21),
        message("more", false, "the key box code is 4471", 22),
        message("mine", true, "thank you!", 23),
    };
    WindowWants lena;
    lena.people = {"+15550100001"};
    WindowWants me;
    me.byMe = true;
    WindowWants code;
    code.askedFor = AskedFor::numberOrCode;
    struct Case {
        const char* name;
        WindowWants wants;
        std::vector<std::pair<std::string, double>> picks;
    };
    const Case cases[] = {
        {"their reply to mine",
         lena,
         {{"reply", kAnswerInThread}, {"ack", kAcknowledgingReply}, {"more", kMoreOfTheReply}}},
        // My own message was the hit: no reply of mine answers it.
        {"about what I wrote", me, {}},
        // Nobody named, nothing asked for: the hit's words answer.
        {"nothing wanted", WindowWants{}, {}},
        {"a code anywhere in the thread", code, {{"more", kAnswerInWindow}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, double>> picks;
        for (const WindowPick& pick : pickFromThread(hit, thread, c.wants)) {
            picks.emplace_back(pick.message.guid, pick.factor);
        }
        EXPECT_EQ(picks, c.picks) << c.name;
    }
}

} // namespace
} // namespace orlune::core
