#include "helper/OfflineAnswer.hpp"

#include "helper/MessageFormat.hpp"

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

TEST(MessageFormat, StoreDatesInBothUnits) {
    EXPECT_EQ(formatMessageTime(0), "2001-01-01 00:00 UTC");
    EXPECT_EQ(formatMessageTime(700000000000000000), "2023-03-08 20:26 UTC");
    EXPECT_EQ(formatMessageTime(700000000), "2023-03-08 20:26 UTC");
    EXPECT_EQ(formatMessageTime(-86400), "2000-12-31 00:00 UTC");
}

TEST(MessageFormat, SnippetCutsOnCharacterBoundaries) {
    EXPECT_EQ(snippet("short", 10), "short");
    EXPECT_EQ(snippet("two\nlines", 20), "two lines");
    EXPECT_EQ(snippet("abcdef", 3), "abc...");
    // "é" is two bytes; cutting inside it keeps the whole character out.
    EXPECT_EQ(snippet("aé", 2), "a...");
}

TEST(MessageFormat, NamesSenderChatAndTime) {
    MessageHit hit;
    hit.chatId = "chat-7";
    hit.sender = "+15550001";
    hit.text = "See you";
    hit.timestamp = 0;
    EXPECT_EQ(describeMessage(hit), "+15550001 in chat-7, 2001-01-01 00:00 UTC: \"See you\"");
    hit.chatName = "Family";
    hit.isFromMe = true;
    EXPECT_EQ(describeMessage(hit), "You in Family, 2001-01-01 00:00 UTC: \"See you\"");
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
              "+15550001 in chat-7, 2001-01-01 00:00 UTC: \"Cabin is booked\" [\u2665 1]");
}

} // namespace
} // namespace orlune::helper
