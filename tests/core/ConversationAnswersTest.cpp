// Answers that read conversations: the reply to my question, the message
// after a hit that holds what was asked for, when-questions from the
// messages' times, and what a message holds (a code, an amount, a time, a
// place, a link, only an acknowledgement). Decoys share the question's words
// from other people, other chats and other times.

#include "answer/AnswerWindows.hpp"
#include "benchmark/AnswerEngineBackend.hpp"
#include "tests/support/TempDir.hpp"
#include "time/StoreTime.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

constexpr int64_t kMinute = 60'000'000'000;
constexpr int64_t kDay = 1440 * kMinute;
// Wednesday 10 December 2025, 12:00 UTC, as a store date.
constexpr int64_t kNow = 787'060'800'000'000'000;

const std::string kLena = "+15550000001";
const std::string kTheo = "+15550000002";
const std::string kAna = "+15550000003";

std::string chatWith(const std::string& handle) {
    return "iMessage;-;" + handle;
}

// A message in the one-to-one chat with `person`, sent by them or by me,
// `minutesAgo` before now.
CorpusMessage said(std::string guid, const std::string& person, bool fromMe, std::string text,
                   int64_t minutesAgo) {
    CorpusMessage m;
    m.guid = std::move(guid);
    m.chatId = chatWith(person);
    m.sender = fromMe ? "me" : person;
    m.isFromMe = fromMe;
    m.text = std::move(text);
    m.timestamp = kNow - minutesAgo * kMinute;
    return m;
}

BenchmarkCorpus conversations() {
    BenchmarkCorpus corpus;
    corpus.version = "test";
    corpus.contacts = std::vector<CorpusContact>{
        {"Lena Fischer", {}, {kLena}}, {"Theo Marsh", {}, {kTheo}}, {"Ana Silva", {}, {kAna}}};
    corpus.chats = std::vector<CorpusChat>{{chatWith(kLena), "Lena Fischer", false, std::nullopt},
                                           {chatWith(kTheo), "Theo Marsh", false, std::nullopt},
                                           {chatWith(kAna), "Ana Silva", false, std::nullopt}};
    const int64_t day = kDay / kMinute;
    corpus.messages = {
        // The question's words are in my message, the answer in the reply.
        said("lena-ask", kLena, true, "Could you feed the cat while I'm away?", 20 * day),
        said("lena-reply", kLena, false, "sure, I'll swing by at 6 each evening", 20 * day - 5),
        said("lena-thanks", kLena, true, "thanks!", 20 * day - 6),
        said("theo-cat", kTheo, false, "can you feed the cat again, she's hungry", 30 * day),
        said("lena-cat-old", kLena, false, "the cat knocked over the plant", 400 * day),
        said("theo-rent-ask", kTheo, true, "Did the landlord say anything about the rent?",
             9 * day),
        said("theo-rent-reply", kTheo, false, "yeah 50 more from January, annoying", 9 * day - 20),
        said("lena-rent", kLena, false, "rent is due on Friday", 8 * day),
        // The message that holds the code follows the one with the words.
        said("ana-train", kAna, false, "my train gets in at 6pm", 2 * day),
        said("ana-code", kAna, false, "it's the KL 612", 2 * day - 1),
        said("theo-train", kTheo, false, "the train was late again", 5 * day),
        // When: the newest in the chat with Theo is mine; Ana's oldest.
        said("theo-last", kTheo, true, "see you Friday", 1 * day),
        said("ana-first", kAna, false, "hi it's Ana, new number", 700 * day),
        // Yesterday, Lena: two acknowledgements after the message that says
        // something.
        said("lena-boiler", kLena, false, "the boiler man is coming at 9 tomorrow", day + 60),
        said("lena-lol", kLena, false, "lol", day - 30),
        said("lena-ok", kLena, false, "ok", day - 31),
        // Ana asked; my reply holds the link. A stranger has the same words
        // as Theo's message.
        said("ana-asks", kAna, false, "can you send me the link for the flat insurance", 3 * day),
        said("ana-link", kAna, true, "https://example.org/renters this one", 3 * day - 2),
        said("theo-gutter", kTheo, false, "the gutter guy fixed the leak, all good", 6 * day),
        said("stranger-gutter", "+15559999999", false, "gutter leak", 6 * day),
        // Theo's own words on the deposit are not his answer to my question.
        said("theo-deposit", kTheo, false, "the deposit went through", 40 * day),
        said("theo-deposit-ask", kTheo, true, "will you keep the whole deposit?", 41 * day),
        said("theo-deposit-reply", kTheo, false, "no, one month only", 41 * day - 3),
    };
    corpus.now = kNow;
    corpus.zone = "Europe/London";
    corpus.decoys = CorpusDecoys{1000, 7};
    return corpus;
}

TEST(ConversationAnswers, TheMessageThatAnswersRanksFirst) {
    testing::TempDir dir;
    const BenchmarkCorpus corpus = conversations().withDecoys();
    AnswerEngineBackend engine(dir.file("answers.db"), corpus,
                               TimeContext{*instantFromStoreDate(kNow), "Europe/London", "en_GB"});
    std::vector<ShadowMessage> messages;
    for (const CorpusMessage& message : corpus.messages) {
        messages.push_back(message.toShadowMessage());
    }
    engine.ingest(messages);
    const std::pair<const char*, const char*> cases[] = {
        // Replies: the answer, not my question.
        {"What did Lena say when I asked if she could feed the cat?", "lena-reply"},
        {"What did Theo answer about the rent?", "theo-rent-reply"},
        // About what I wrote: my message, not the reply.
        {"What did I ask Lena about the cat?", "lena-ask"},
        // The kind asked for, in the message after the one with the words.
        {"What's Ana's train number?", "ana-code"},
        // When: from the messages' times, both sides of a conversation.
        {"When did I last talk to Theo?", "theo-last"},
        {"When did Ana first message me?", "ana-first"},
        // Within a time, a message that says something before "ok", "lol".
        {"What did Lena say yesterday?", "lena-boiler"},
        {"what did Theo say when I asked about the deposit", "theo-deposit-reply"},
        // What someone asked about: my reply.
        {"the link for the flat insurance Ana asked about", "ana-link"},
        // Someone known above a stranger with the same words.
        {"who fixed the gutter leak", "theo-gutter"},
    };
    for (const auto& [question, expected] : cases) {
        const std::vector<std::string> found = engine.search(question, 5);
        ASSERT_FALSE(found.empty()) << question;
        EXPECT_EQ(found[0], expected) << question;
    }
}

TEST(ConversationAnswers, WhatAMessageHolds) {
    struct Case {
        const char* text;
        AskedFor kind;
        bool holds;
    };
    const Case cases[] = {
        {"it's the KL 612", AskedFor::numberOrCode, true},
        {"gate code is 4471#", AskedFor::numberOrCode, true},
        {"flat B7", AskedFor::numberOrCode, true},
        {"see you at 6pm", AskedFor::numberOrCode, false},
        {"2 of us", AskedFor::numberOrCode, false},
        {"that's £40 each", AskedFor::amount, true},
        {"it came to 12.50", AskedFor::amount, true},
        {"40 quid", AskedFor::amount, true},
        {"room 40", AskedFor::amount, false},
        {"Total 640€ with IVA", AskedFor::amount, true},
        {"15 € for under 10s", AskedFor::amount, true},
        {"2 bed, 1150 a month", AskedFor::amount, true},
        {"take 2 a day", AskedFor::amount, false},
        {"doors at 6:30", AskedFor::timeOrDate, true},
        {"around 7 pm", AskedFor::timeOrDate, true},
        {"Saturday works", AskedFor::timeOrDate, true},
        {"this morning was rough", AskedFor::timeOrDate, false},
        {"meet at the Crown", AskedFor::place, true},
        {"550 Bayview Ave", AskedFor::place, true},
        {"meet at the usual", AskedFor::place, false},
        {"tickets https://example.org/fest", AskedFor::link, true},
        {"see hillsidefestival.ca/tickets", AskedFor::link, true},
        {"on the website", AskedFor::link, false},
        {"anything at all", AskedFor::anything, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(holdsAskedFor(c.text, c.kind), c.holds) << c.text;
    }
    const std::pair<const char*, bool> acknowledgements[] = {
        {"ok", true}, {"lol", true},           {"hahaha yes", true},
        {"👍", true},  {"sounds good!", true},  {"ok see you at 6", false},
        {"", false},  {"\xEF\xBF\xBC", false}, {"the boiler is fixed", false},
    };
    for (const auto& [text, expected] : acknowledgements) {
        EXPECT_EQ(isAcknowledgement(text), expected) << text;
    }
}

// Which messages after a hit its window brings in, and how they rank
// against it.
TEST(ConversationAnswers, AWindowBringsTheReplyFromTheSideAskedAbout) {
    auto message = [](const char* guid, const std::string& sender, const char* text,
                      int64_t minutes, const std::string& chat = chatWith(kLena)) {
        SearchResult m;
        m.guid = guid;
        m.chatId = chat;
        m.sender = sender;
        m.isFromMe = sender == "me";
        m.text = text;
        m.timestamp = kNow + minutes * kMinute;
        return m;
    };
    const SearchResult mine = message("hit", "me", "can you feed the cat?", 0);
    const SearchResult theirs = message("hit", kLena, "can you feed the cat?", 0);
    struct Case {
        const char* name;
        SearchResult hit;
        std::vector<SearchResult> after;
        WindowWants wants;
        std::vector<std::pair<std::string, double>> picks;
    };
    const WindowWants fromLena{false, {kLena}, AskedFor::anything};
    const Case cases[] = {
        {"their reply, acknowledgement below, content above the hit",
         mine,
         {message("ack", kLena, "ok", 1), message("reply", kLena, "sure, at 6", 2),
          message("more", kLena, "I have a key", 3), message("mine", "me", "and the plants?", 4),
          message("later", kLena, "another thing", 5)},
         fromLena,
         {{"ack", kAcknowledgingReply}, {"reply", kAnswerInWindow}, {"more", kMoreOfTheReply}}},
        {"my thanks between their messages, the rest of the reply the next day",
         mine,
         {message("reply", kLena, "the man comes at 4", 1), message("thanks", "me", "thanks!", 2),
          message("next-day", kLena, "he says it was the valve", 20 * 60)},
         fromLena,
         {{"reply", kAnswerInWindow}, {"next-day", kMoreOfTheReply}}},
        {"someone not asked about", mine, {message("x", kTheo, "sure", 1)}, fromLena, {}},
        {"too late for the window",
         mine,
         {message("late", kLena, "sure", kWindowSeconds / 60 + 1)},
         fromLena,
         {}},
        {"the hit is already theirs", theirs, {message("r", "me", "yes", 1)}, fromLena, {}},
        {"about what I wrote: my reply to theirs",
         theirs,
         {message("r", "me", "yes I can", 1)},
         WindowWants{true, {kLena}, AskedFor::anything},
         {{"r", kAnswerInWindow}}},
        {"no one named: no reply wanted",
         mine,
         {message("r", kLena, "sure", 1)},
         WindowWants{false, {}, AskedFor::anything},
         {}},
        {"what they asked about: my reply holds the link",
         theirs,
         {message("link", "me", "https://example.org/insurance this one", 1)},
         WindowWants{true, {kLena}, AskedFor::link},
         {{"link", kAnswerInWindow}}},
        {"the kind asked for, from the same side",
         theirs,
         {message("code", kLena, "it's the KL 612", 1), message("n", kLena, "gate 4471", 2)},
         WindowWants{false, {kLena}, AskedFor::numberOrCode},
         {{"code", kAnswerInWindow}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, double>> picks;
        for (const WindowPick& pick : pickFromWindow(c.hit, c.after, c.wants)) {
            picks.emplace_back(pick.message.guid, pick.factor);
        }
        EXPECT_EQ(picks, c.picks) << c.name;
    }
}

} // namespace
} // namespace orlune::core
