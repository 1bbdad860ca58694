// The answer engine on a tiny corpus: people, times and attachments that the
// question names narrow what it returns, and the benchmark scores it.

#include "benchmark/AnswerEngineBackend.hpp"

#include "benchmark/BenchmarkRunner.hpp"
#include "tests/support/TempDir.hpp"
#include "time/StoreTime.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

constexpr int64_t kDay = 86'400'000'000'000;
// Wednesday 10 December 2025, 12:00 UTC, as a store date.
constexpr int64_t kNow = 787'060'800'000'000'000;

CorpusMessage message(std::string guid, std::string chat, std::string sender, std::string text,
                      int64_t daysAgo, std::vector<CorpusAttachment> attachments = {}) {
    CorpusMessage m;
    m.guid = std::move(guid);
    m.chatId = std::move(chat);
    m.sender = std::move(sender);
    m.isFromMe = m.sender == "me";
    m.text = std::move(text);
    m.timestamp = kNow - daysAgo * kDay;
    m.attachments = std::move(attachments);
    return m;
}

CorpusQuery asked(std::string id, std::string question, std::vector<std::string> expected) {
    CorpusQuery q;
    q.id = std::move(id);
    q.text = "unused";
    q.category = QueryCategory::person;
    q.expectedGuids = std::move(expected);
    q.question = std::move(question);
    return q;
}

BenchmarkCorpus tinyCorpus() {
    BenchmarkCorpus corpus;
    corpus.version = "test";
    corpus.contacts = std::vector<CorpusContact>{{"Linda Harper", {"Mom"}, {"+15550001"}},
                                                 {"Tom Becker", {}, {"tom@example.org"}}};
    corpus.chats = std::vector<CorpusChat>{{"c-mom", "Linda Harper", false, std::nullopt},
                                           {"c-tom", "Tom Becker", false, std::nullopt}};
    corpus.messages = {
        message("mom-boiler", "c-mom", "+15550001", "the boiler is broken again", 3),
        message("tom-boiler", "c-tom", "tom@example.org", "my boiler is broken again", 2),
        message("stranger-boiler", "c-x", "+15559999", "boiler broken, boiler broken", 1),
        message("mom-old", "c-mom", "+15550001", "the garden looks lovely", 200),
        message("tom-photo", "c-tom", "tom@example.org", "look at this", 5,
                {CorpusAttachment{"photo", std::string("IMG_1.jpg")}}),
        message("tom-text", "c-tom", "tom@example.org", "look at this later", 4),
    };
    corpus.messages[4].reactions = {{"love", "me", std::nullopt},
                                    {"emoji", "+15550001", std::string("🔥")}};
    corpus.now = kNow;
    corpus.zone = "UTC";
    return corpus;
}

TEST(AnswerEngineBackend, NamedPeopleTimesAndKindsNarrowTheAnswer) {
    testing::TempDir dir;
    const BenchmarkCorpus corpus = tinyCorpus();
    const TimeContext time{*instantFromStoreDate(kNow), "UTC", "en_US"};
    auto engine = std::make_shared<AnswerEngineBackend>(dir.file("answers.db"), corpus, time);
    std::vector<ShadowMessage> messages;
    for (const auto& m : corpus.messages) {
        messages.push_back(m.toShadowMessage());
    }
    engine->ingest(messages);

    const struct {
        const char* question;
        const char* first;
    } cases[] = {
        {"what did Mom say about the boiler?", "mom-boiler"},
        {"what did Tom say about the boiler?", "tom-boiler"},
        {"the photo Tom sent", "tom-photo"},
        {"what did Linda say in May?", "mom-old"},
        // Reactions: yours on what Tom sent, Mom's on anything.
        {"which of Tom's messages did I love?", "tom-photo"},
        {"what did Mom react to?", "tom-photo"},
    };
    for (const auto& c : cases) {
        const auto found = engine->search(c.question, 5);
        ASSERT_FALSE(found.empty()) << c.question;
        EXPECT_EQ(found[0], c.first) << c.question;
    }

    // Nobody named reacted: nothing, rather than any message of theirs.
    EXPECT_TRUE(engine->search("which message did Tom like?", 5).empty());
    EXPECT_TRUE(engine->search("which of Tom's messages did I laugh at?", 5).empty());

    // The corpus's reactions stand on their messages.
    {
        ShadowDB reader(dir.file("answers.db"));
        const auto reactions = reader.reactionsOn("tom-photo");
        ASSERT_EQ(reactions.size(), 2u);
        EXPECT_EQ(reactions[0].kind, "love");
        EXPECT_EQ(reactions[0].sender, "me");
        EXPECT_EQ(reactions[1].emoji, "🔥");
        EXPECT_EQ(reactions[1].senderName, "Linda Harper");
        EXPECT_TRUE(reader.reactionsOn("tom-text").empty());
    }

    // Scored through the runner: first hits count fully, a miss not at all.
    BenchmarkCorpus scored = corpus;
    scored.queries = {asked("q1", "what did Mom say about the boiler?", {"mom-boiler"}),
                      asked("q2", "what did Mom say about the boiler?", {"tom-boiler"})};
    engine->reset();
    const BenchmarkMetrics metrics = BenchmarkRunner(engine, scored, true).run(false);
    ASSERT_EQ(metrics.perQueryResults.size(), 2u);
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[0].reciprocalRank, 1.0);
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[0].recallAt5, 1.0);
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[1].recallAt5, 0.0);
    EXPECT_DOUBLE_EQ(metrics.perCategoryMetrics.at("person").mrr, 0.5);

    // The people stay after a reset; the messages do not.
    engine->reset();
    EXPECT_TRUE(engine->search("what did Mom say about the boiler?", 5).empty());
}

TEST(AnswerEngineBackend, PeopleTablesOfTheCorpus) {
    BenchmarkCorpus corpus = tinyCorpus();
    corpus.contacts->push_back(CorpusContact{"Cher", {}, {"+15550001", "cher@example.org"}});
    const PeopleTables tables = AnswerEngineBackend::peopleTables(corpus);
    ASSERT_EQ(tables.people.people.size(), 3u);
    EXPECT_EQ(tables.people.people[0].firstName, "Linda");
    EXPECT_EQ(tables.people.people[0].lastName, "Harper");
    EXPECT_EQ(tables.people.people[0].nicknames, std::vector<std::string>{"Mom"});
    EXPECT_EQ(tables.people.people[2].firstName, "Cher");
    EXPECT_EQ(tables.people.people[2].lastName, "");
    // A handle two contacts list belongs to the first.
    const std::vector<std::pair<std::string, size_t>> handles = {
        {"+15550001", 0}, {"tom@example.org", 1}, {"cher@example.org", 2}};
    EXPECT_EQ(tables.handles, handles);
    ASSERT_EQ(tables.chats.size(), 2u);
    EXPECT_EQ(tables.chats[0].title, "Linda Harper");
}

} // namespace
} // namespace orlune::core
