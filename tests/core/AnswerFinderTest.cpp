// Finding the messages that answer a question: people, chats and times read
// from the question narrow the search; decoys with the same words from other
// people, chats and years stay below the answer.

#include "answer/AnswerFinder.hpp"

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
using testing::instantAt;
using testing::peopleStoreDate;

// Handles: 1 Mom (Carol Day, nickname "Mom"), 2 Jess Day, 3 Alex Kim, 4 a
// number in no address book. Chats: 1 with Mom, 2 with Jess, 3 "Book Club"
// (Jess, Alex), 4 with the stranger.
struct Row {
    const char* guid;
    const char* text;
    const char* utc;
    int64_t handle; // 0: sent by me
    int64_t chat;
};
const Row kRows[] = {
    {"answer-grandma", "Grandma is coming for dinner on Sunday", "2025-12-10 18:30", 1, 1},
    {"mom-older", "Grandma called about her garden", "2024-06-02 10:00", 1, 1},
    {"decoy-1", "grandma says hi", "2023-03-01 09:00", 2, 2},
    {"decoy-2", "Grandma says hi!", "2024-03-01 09:00", 2, 2},
    {"decoy-3", "grandma says hi", "2025-12-10 12:00", 3, 3},
    {"decoy-4", "grandma says hi", "2022-01-05 09:00", 3, 3},
    {"told-jess", "the tickets are booked for Friday", "2025-12-01 20:00", 0, 2},
    {"jess-tickets", "did you get tickets?", "2025-12-01 19:55", 2, 2},
    {"wifi", "wifi password is cabin2024", "2025-11-02 08:00", 2, 3},
    {"wifi-elsewhere", "the office wifi password changed", "2025-11-03 08:00", 1, 1},
    // Many short messages with one word of a question, one long message
    // with its other word, none with both.
    {"lasagne-1", "lasagne tonight", "2021-05-01 18:00", 2, 2},
    {"lasagne-2", "lasagne again?", "2021-05-02 18:00", 2, 2},
    {"lasagne-3", "more lasagne", "2021-05-03 18:00", 2, 2},
    {"lasagne-4", "lasagne is ready", "2021-05-04 18:00", 2, 2},
    {"lasagne-5", "cold lasagne", "2021-05-05 18:00", 2, 2},
    {"recipe",
     "I wrote down the recipe from the old notebook in the kitchen drawer, the one "
     "with the stained cover and the pages missing near the back",
     "2021-04-01 18:00", 2, 2},
    // A boiler and an engineer: the newer message holds both words.
    {"engineer-tuesday", "engineer visit Tuesday 2-6pm", "2025-11-24 09:00", 1, 1},
    {"boiler-clicking", "the boiler is clicking again", "2025-11-25 09:00", 1, 1},
    {"boiler-engineer", "boiler engineer coming Thursday between 8 and 12", "2025-11-26 09:00", 1,
     1},
    // Mom tells of Jess's doctor in other words; Alex's message holds the
    // question's own word.
    {"jess-gp", "Jess saw the GP today, new tablets", "2025-11-20 09:00", 1, 1},
    {"doctor-decoy", "the doctor was running late", "2025-11-21 09:00", 3, 3},
    // A stranger's short message with the words of Jess's.
    {"jess-plumber", "the plumber is coming on Friday morning to fix the sink", "2025-10-01 09:00",
     2, 2},
    {"stranger-plumber", "plumber coming lol", "2025-10-02 09:00", 4, 4},
    // A photo without words (its attachment is added below).
    {"alex-photo", "\xEF\xBF\xBC", "2025-11-20 10:00", 3, 3},
};

class AnswerFinderTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    testing::FakeEnvironment environment;
    std::string shadowPath = dir.file("shadow.db");
    // Thursday 11 December 2025, 15:00 in London.
    TimeContext now{instantAt("2025-12-11T15:00+00:00"), "Europe/London", "en_GB"};

    void SetUp() override {
        const std::string storePath = dir.file("chat.db");
        const std::string books = dir.file("AddressBook");
        writeStore(storePath);
        {
            AddressBookWriter book(AddressBookWriter::bookPath(books));
            book.addContact({.firstName = "Carol",
                             .lastName = "Day",
                             .nickname = "Mom",
                             .phones = {"+1 555 010 0001"}});
            book.addContact({.firstName = "Jess", .lastName = "Day", .phones = {"555.010.0002"}});
            book.addContact({.firstName = "Alex", .lastName = "Kim", .phones = {"+15550100003"}});
        }
        environment.home = dir.path().string();
        environment.variables["ADDRESS_BOOK_PATH"] = books;
        environment.variables["LANG"] = "en_US.UTF-8";
        ShadowSync(storePath, shadowPath, environment).performSync();
    }

    static void writeStore(const std::string& path) {
        ChatStoreWriter store(path);
        const char* numbers[] = {"+15550100001", "+15550100002", "+15550100003", "+15550100099"};
        for (int64_t i = 0; i < 4; ++i) {
            store.addHandle(HandleRow{i + 1, std::string(numbers[i]), std::string("iMessage"),
                                      std::string("us")});
        }
        using samplestore::kDirectChatStyle;
        using samplestore::kGroupChatStyle;
        store.addChat(
            ChatRow{1, "iMessage;-;+15550100001", std::nullopt, kDirectChatStyle, "+15550100001"});
        store.addChat(
            ChatRow{2, "iMessage;-;+15550100002", std::nullopt, kDirectChatStyle, "+15550100002"});
        store.addChat(
            ChatRow{3, "iMessage;+;chat300", std::string("Book Club"), kGroupChatStyle, "chat300"});
        store.addChat(
            ChatRow{4, "iMessage;-;+15550100099", std::nullopt, kDirectChatStyle, "+15550100099"});
        store.addChatMember(4, 4);
        store.addChatMember(1, 1);
        store.addChatMember(2, 2);
        store.addChatMember(3, 2);
        store.addChatMember(3, 3);
        int64_t rowid = 0;
        for (const Row& r : kRows) {
            MessageRow row;
            row.rowid = ++rowid;
            row.guid = r.guid;
            row.text = r.text;
            row.date = peopleStoreDate(r.utc);
            row.isFromMe = r.handle == 0;
            row.handleId = r.handle;
            store.addMessage(row);
            store.joinMessageToChat(row.rowid, r.chat, row.date);
        }
        samplestore::AttachmentRow photo;
        photo.rowid = 1;
        photo.guid = "attachment-1";
        photo.filename = "~/Library/Messages/Attachments/ab/01/IMG_0001.HEIC";
        photo.uti = "public.heic";
        photo.transferName = "IMG_0001.HEIC";
        photo.totalBytes = 123456;
        store.addAttachment(photo);
        store.attachToMessage(rowid, photo.rowid);
    }

    FoundAnswer find(const std::string& question) {
        ShadowDBReader db(shadowPath);
        AnswerFinder finder(db);
        return finder.find(question, now, 5, QueryBounds{});
    }
};

std::vector<std::string> guidsOf(const FoundAnswer& found) {
    std::vector<std::string> guids;
    for (const RankedMessage& m : found.messages) {
        guids.push_back(m.message.guid);
    }
    return guids;
}

TEST_F(AnswerFinderTest, TheAnswerComesFirstAboveDecoysWithTheSameWords) {
    struct Case {
        const char* question;
        const char* first;
        const char* understood;
        bool widened;
    };
    const Case cases[] = {
        {"What did Mom say about Grandma yesterday?", "answer-grandma",
         R"(messages from Carol Day yesterday about "grandma")", false},
        // What you told someone is found in your chat with them.
        {"what did I tell Jess about the tickets?", "told-jess",
         R"(your messages to Jess Day about "tickets")", false},
        {"wifi password in the Book Club chat", "wifi",
         R"(messages in Book Club about "wifi" and "password")", false},
        // Alex's newest messages are words; the photo is older.
        {"when did Alex send me a photo?", "alex-photo", "messages from Alex Kim with a photo",
         false},
        // Nothing from Jess about dinner: the wider search finds Mom's.
        {"What did Jess say about dinner?", "answer-grandma",
         R"(messages from Jess Day about "dinner")", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const FoundAnswer found = find(c.question);
        ASSERT_FALSE(found.messages.empty());
        EXPECT_EQ(found.messages.front().message.guid, c.first);
        EXPECT_EQ(found.understood, c.understood);
        EXPECT_EQ(found.widened, c.widened);
    }
}

// A word after "NOT" (or "but not", "without") leaves out every message
// holding it, the newer ones with more of the words included.
TEST_F(AnswerFinderTest, AnExcludedWordLeavesOutTheMessagesThatHoldIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"boiler NOT engineer", "boiler-clicking"},
        {"what did Mom say about the boiler but not the engineer?", "boiler-clicking"},
        {"engineer -boiler", "engineer-tuesday"},
        {"engineer without the boilers", "engineer-tuesday"},
    };
    for (const auto& [question, first] : cases) {
        SCOPED_TRACE(question);
        const std::vector<std::string> guids = guidsOf(find(question));
        ASSERT_FALSE(guids.empty());
        EXPECT_EQ(guids.front(), first);
        EXPECT_THAT(guids, ::testing::Not(::testing::Contains("boiler-engineer")));
    }
}

// A day named beside the question's words may be the day a message spoke
// of, not the day it was sent: "engineer tuesday" finds the message saying
// "Tuesday" above a newer one about the engineer on another day.
TEST_F(AnswerFinderTest, ADayNamedIsAlsoLookedForAsAMessageWritesIt) {
    for (const char* question :
         {"engineer tuesday", "what did Mom say about the engineer on Tuesday?"}) {
        const std::vector<std::string> guids = guidsOf(find(question));
        ASSERT_FALSE(guids.empty()) << question;
        EXPECT_EQ(guids.front(), "engineer-tuesday") << question;
    }
}

// Nothing from Jess or in her chats: everyone's messages that name her as
// the question does, in other words ("GP" for "doctor"), come before those
// with the question's word alone.
TEST_F(AnswerFinderTest, WidenedToEveryoneMessagesNamingThePersonComeFirst) {
    const FoundAnswer found = find("what did the doctor tell Jess?");
    EXPECT_TRUE(found.widened);
    const std::vector<std::string> guids = guidsOf(found);
    ASSERT_GE(guids.size(), 2u);
    EXPECT_EQ(guids[0], "jess-gp");
    EXPECT_THAT(guids, ::testing::Contains("doctor-decoy"));
}

// Someone you know saying it outranks a stranger's shorter message with the
// same words.
TEST_F(AnswerFinderTest, AMessageFromSomeoneKnownOutranksAStrangersWithTheSameWords) {
    const std::vector<std::string> guids = guidsOf(find("plumber coming"));
    ASSERT_GE(guids.size(), 2u);
    EXPECT_EQ(guids[0], "jess-plumber");
    EXPECT_EQ(guids[1], "stranger-plumber");
}

TEST_F(AnswerFinderTest, TheSameTextIsListedOnceWithItsCopiesCounted) {
    const FoundAnswer found = find("grandma says hi");
    const std::vector<std::string> guids = guidsOf(found);
    const auto decoys = std::count_if(guids.begin(), guids.end(), [](const std::string& guid) {
        return guid.rfind("decoy-", 0) == 0;
    });
    EXPECT_EQ(decoys, 1);
    ASSERT_FALSE(found.messages.empty());
    EXPECT_EQ(found.messages.front().sameText, 3u);
    // The newest of the copies is the one shown.
    EXPECT_EQ(found.messages.front().message.guid, "decoy-3");
}

// When no message has all the words, each word brings its own best
// messages: one word's many short messages do not crowd out the other's.
TEST_F(AnswerFinderTest, WithoutAMessageHoldingEveryWordEachWordIsHeard) {
    const std::vector<std::string> guids = guidsOf(find("lasagne recipe"));
    ASSERT_GE(guids.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(guids.begin(), guids.begin() + 2),
                ::testing::Contains("recipe"));
    EXPECT_THAT(guids, ::testing::Contains(::testing::StartsWith("lasagne-")));
}

TEST_F(AnswerFinderTest, ATimeOrPersonWithNothingInItFindsNothingOutsideIt) {
    EXPECT_THAT(guidsOf(find("What did Mom say about the moon landing?")), ::testing::IsEmpty());
    // Names alone list their newest messages.
    EXPECT_EQ(guidsOf(find("Alex")).front(), "decoy-3");
}

// A question about a time before the first message or after the last says
// where the messages start or end; one about a time they cover, or about no
// time, says nothing of it.
TEST_F(AnswerFinderTest, ATimeOutsideTheMessagesIsSaid) {
    const std::pair<const char*, const char*> cases[] = {
        {"what did Jess say about lasagne in 2019?", "Your messages here start in April 2021."},
        {"grandma in March 2021", "Your messages here start in April 2021."},
        {"grandma in 2027", "Your messages here end in December 2025."},
        {"grandma in 2024", ""},
        {"what did Mom say about Grandma yesterday?", ""},
        {"grandma", ""},
    };
    for (const auto& [question, note] : cases) {
        EXPECT_EQ(find(question).outsideCopied, note) << question;
    }
}

} // namespace
} // namespace orlune::core
