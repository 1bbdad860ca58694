#include "helper/OfflineAnswer.hpp"

#include "helper/MessageFormat.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

namespace orlune::helper {
namespace {

TEST(QuestionWords, KeepsTheWordsWorthSearching) {
    struct Case {
        std::string question;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"When is dinner tomorrow?", {"dinner", "tomorrow"}},
        {"What did Alice say about the DENTIST, and the dentist's time?",
         {"alice", "say", "dentist", "time"}},
        {"Who's bringing \"dessert\" (or cake) -- at 7?", {"bringing", "dessert", "cake", "7"}},
        {"Où est le café? Ünïcode Straße", {"où", "est", "le", "café", "ünïcode", "straße"}},
        {"what is it?", {}},
        {"  ?!  ", {}},
        {"didn't she know", {}},
        {"dinner " + std::string(65, 'x') + " " + std::string(64, 'y'),
         {"dinner", std::string(64, 'y')}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(questionWords(c.question), c.words) << c.question;
    }
}

TEST(QuestionWords, KeepsAtMostSixteenWords) {
    std::string question;
    for (int i = 0; i < 30; ++i) {
        question += "word" + std::to_string(i) + " ";
    }
    EXPECT_EQ(questionWords(question).size(), 16u);
}

TEST(MatchExpression, QuotesEachWordAndJoinsWithOr) {
    EXPECT_EQ(matchExpression({}), "");
    EXPECT_EQ(matchExpression({"dinner"}), "\"dinner\"");
    EXPECT_EQ(matchExpression({"dinner", "or", "7"}), "\"dinner\" OR \"or\" OR \"7\"");
    EXPECT_EQ(matchExpression({"a\"b"}), "\"a\"\"b\"");
}

TEST(MessageFormat, StoreDatesInBothUnitsInTheLocalZone) {
    const struct {
        const char* zone;
        int64_t date;
        const char* shown;
    } cases[] = {
        {"UTC", 700000000000000000, "Wed 8 Mar 2023, 20:26"}, // nanoseconds
        {"UTC", 700000000, "Wed 8 Mar 2023, 20:26"},          // seconds
        {"Europe/Paris", 700000000, "Wed 8 Mar 2023, 21:26"},
        {"America/New_York", 86400, "Mon 1 Jan 2001, 19:00"},
        {"UTC", 0, "an unknown time"},
    };
    for (const auto& c : cases) {
        testing::ScopedEnv zone("TZ", std::string(c.zone));
        EXPECT_EQ(formatMessageTime(c.date), c.shown) << c.zone << " " << c.date;
    }
}

TEST(MessageFormat, SnippetCutsOnCharacterBoundaries) {
    EXPECT_EQ(snippet("short", 10), "short");
    EXPECT_EQ(snippet("two\nlines", 20), "two lines");
    EXPECT_EQ(snippet("abcdef", 3), "abc...");
    // "é" is two bytes; cutting inside it keeps the whole character out.
    EXPECT_EQ(snippet("aé", 2), "a...");
}

TEST(MessageFormat, NamesSenderChatAndTime) {
    testing::ScopedEnv zone("TZ", std::string("UTC"));
    MessageHit hit;
    hit.chatId = "chat-7";
    hit.sender = "+15550001";
    hit.text = "See you";
    hit.timestamp = 86400;
    EXPECT_EQ(describeMessage(hit), "+15550001 in chat-7, Tue 2 Jan 2001, 00:00: \"See you\"");
    hit.chatTitle = "+15550001";
    EXPECT_EQ(describeMessage(hit), "+15550001, Tue 2 Jan 2001, 00:00: \"See you\"")
        << "their own chat is not named twice";
    hit.chatTitle.clear();
    hit.senderName = "Alex Kim";
    hit.chatName = "Family";
    EXPECT_EQ(describeMessage(hit), "Alex Kim in Family, Tue 2 Jan 2001, 00:00: \"See you\"");
    hit.chatTitle = "Alex, Jess and 2 others";
    hit.isFromMe = true;
    EXPECT_EQ(describeMessage(hit),
              "You in Alex, Jess and 2 others, Tue 2 Jan 2001, 00:00: \"See you\"");

    // In a chat with one other person, yours went to them and theirs need
    // no chat.
    hit.oneToOne = true;
    hit.chatTitle = "Noah Schmidt";
    EXPECT_EQ(describeMessage(hit), "You to Noah Schmidt, Tue 2 Jan 2001, 00:00: \"See you\"");
    hit.isFromMe = false;
    hit.senderName = "Noah";
    EXPECT_EQ(describeMessage(hit), "Noah, Tue 2 Jan 2001, 00:00: \"See you\"");
}

// Reactions counted by sign in order of first appearance (a custom emoji
// shows itself), then attachment kinds.
TEST(MessageFormat, ReactionsAndAttachmentsFollowTheText) {
    struct Case {
        std::vector<MessageHit::Reaction> reactions;
        std::vector<std::string> kinds;
        std::string expected;
    };
    const Case cases[] = {
        {{}, {}, ""},
        {{{"love", std::nullopt}, {"laugh", std::nullopt}, {"love", std::nullopt}},
         {},
         "\u2665 2, \U0001F602 1"},
        {{{"emoji", std::string("\U0001F389")}}, {"photo", "pdf"}, "\U0001F389 1; photo, pdf"},
        {{}, {"voice message"}, "voice message"},
        // Signs that are words come after their count.
        {{{"sticker", std::nullopt}}, {"photo"}, "1 sticker; photo"},
        {{{"poll_vote", std::nullopt}, {"poll_vote", std::nullopt}, {"like", std::nullopt}},
         {},
         "2 votes, \U0001F44D 1"},
    };
    for (const Case& c : cases) {
        MessageHit hit;
        hit.reactions = c.reactions;
        hit.attachmentKinds = c.kinds;
        EXPECT_EQ(reactionsAndAttachments(hit), c.expected);
    }
    MessageHit hit;
    hit.chatId = "chat-7";
    hit.sender = "+15550001";
    hit.text = "Cabin is booked";
    hit.reactions = {{"love", std::nullopt}};
    EXPECT_EQ(describeMessage(hit),
              "+15550001 in chat-7, an unknown time: \"Cabin is booked\" [\u2665 1]");

    // A message of attachments alone shows them, never empty quotes; the
    // placeholder of an attachment is not text.
    MessageHit photo = hit;
    photo.text = "\xEF\xBF\xBC";
    photo.attachmentKinds = {"photo", "pdf"};
    photo.attachmentNames = {"IMG_0457.HEIC", ""};
    EXPECT_EQ(shownText(photo, 200), "[photo IMG_0457.HEIC, pdf]");
    EXPECT_EQ(describeMessage(photo),
              "+15550001 in chat-7, an unknown time: [photo IMG_0457.HEIC, pdf] [\u2665 1]");
    photo.text = "\xEF\xBF\xBC look at this ";
    EXPECT_EQ(shownText(photo, 200), "look at this");
    EXPECT_EQ(describeMessage(photo),
              "+15550001 in chat-7, an unknown time: \"look at this\" [\u2665 1; photo, pdf]");
    photo.text = "";
    photo.attachmentKinds.clear();
    EXPECT_EQ(shownText(photo, 200), "");
}

} // namespace
} // namespace orlune::helper
