#include "benchmark/BenchmarkCorpus.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

using Json = nlohmann::ordered_json;

const char* kMinimal = R"({
  "version": "1",
  "messages": [
    {"guid": "m1", "chat_id": "c1", "chat_name": "Family", "sender": "+15550001",
     "text": "dinner at 7?", "timestamp": 700000000000000000, "is_from_me": false, "is_group": true},
    {"guid": "m2", "chat_id": "c1", "chat_name": null, "sender": "me",
     "text": "yes", "timestamp": -5, "is_from_me": true, "is_group": true, "extra": [1, 2]}
  ],
  "queries": [
    {"id": "q1", "text": "dinner", "category": "multi-hop", "expected_guids": ["m1", "m1"],
     "expected_at_k": {"1": ["m1"], "anything": []}, "unknown": {"nested": true}},
    {"id": "q2", "text": "nothing", "category": "negation", "expected_guids": []}
  ],
  "chats": [{"id": "c1", "name": "Family", "is_group": true}],
  "ignored_top_level": 3
})";

TEST(BenchmarkCorpusDecoding, ReadsRequiredAndOptionalFields) {
    auto corpus = BenchmarkCorpus::fromJson(Json::parse(kMinimal));
    EXPECT_EQ(corpus.version, "1");
    EXPECT_FALSE(corpus.description);
    ASSERT_EQ(corpus.messages.size(), 2u);
    EXPECT_EQ(corpus.messages[0].chatName, "Family");
    EXPECT_EQ(corpus.messages[0].timestamp, 700000000000000000);
    EXPECT_FALSE(corpus.messages[1].chatName);
    EXPECT_EQ(corpus.messages[1].timestamp, -5);
    ASSERT_TRUE(corpus.chats);
    EXPECT_FALSE((*corpus.chats)[0].participants);
    ASSERT_EQ(corpus.queries.size(), 2u);
    EXPECT_EQ(corpus.queries[0].category, QueryCategory::multiHop);
    EXPECT_EQ(corpus.queries[0].expectedGuids, (std::vector<std::string>{"m1", "m1"}));
    ASSERT_TRUE(corpus.queries[0].expectedAtK);
    EXPECT_EQ(corpus.queries[0].expectedAtK->at("1"), std::vector<std::string>{"m1"});
    EXPECT_TRUE(corpus.queries[1].expectedGuids.empty());
}

TEST(BenchmarkCorpusDecoding, StrictTypesAndRequiredKeysFail) {
    struct Case {
        const char* what;
        std::function<void(Json&)> change;
    };
    const Case cases[] = {
        {"is_from_me as 1", [](Json& j) { j["messages"][0]["is_from_me"] = 1; }},
        {"is_group as string", [](Json& j) { j["messages"][0]["is_group"] = "true"; }},
        {"timestamp as float", [](Json& j) { j["messages"][0]["timestamp"] = 2.5; }},
        {"timestamp too large",
         [](Json& j) { j["messages"][0]["timestamp"] = 18446744073709551615ull; }},
        {"timestamp as string", [](Json& j) { j["messages"][0]["timestamp"] = "5"; }},
        {"guid missing", [](Json& j) { j["messages"][0].erase("guid"); }},
        {"sender null", [](Json& j) { j["messages"][0]["sender"] = nullptr; }},
        {"chat_name as number", [](Json& j) { j["messages"][0]["chat_name"] = 3; }},
        {"category in other case", [](Json& j) { j["queries"][0]["category"] = "Keyword"; }},
        {"category without hyphen", [](Json& j) { j["queries"][0]["category"] = "multihop"; }},
        {"expected_guids missing", [](Json& j) { j["queries"][0].erase("expected_guids"); }},
        {"expected guid not a string", [](Json& j) { j["queries"][0]["expected_guids"][1] = 4; }},
        {"expected_at_k not an object",
         [](Json& j) { j["queries"][0]["expected_at_k"] = Json::array(); }},
        {"version missing", [](Json& j) { j.erase("version"); }},
        {"queries missing", [](Json& j) { j.erase("queries"); }},
        {"messages not an array", [](Json& j) { j["messages"] = Json::object(); }},
        {"chat without name", [](Json& j) { j["chats"][0].erase("name"); }},
        {"participants of numbers",
         [](Json& j) {
             j["chats"][0]["participants"] = {1, 2};
         }},
        {"contact without handles",
         [](Json& j) { j["contacts"] = Json::parse(R"([{"name": "Mom"}])"); }},
        {"contact nicknames as text",
         [](Json& j) {
             j["contacts"] = Json::parse(R"([{"name": "Mom", "nicknames": "Mum", "handles": []}])");
         }},
        {"attachment without kind",
         [](Json& j) { j["messages"][0]["attachments"] = Json::parse(R"([{"name": "a.jpg"}])"); }},
        {"attachments as an object",
         [](Json& j) { j["messages"][0]["attachments"] = Json::parse(R"({"kind": "photo"})"); }},
        {"reaction without sender",
         [](Json& j) { j["messages"][0]["reactions"] = Json::parse(R"([{"kind": "love"}])"); }},
        {"question as a number", [](Json& j) { j["queries"][0]["question"] = 3; }},
        {"held_out as a number", [](Json& j) { j["queries"][0]["held_out"] = 1; }},
        {"now as text", [](Json& j) { j["now"] = "yesterday"; }},
        {"zone as a number", [](Json& j) { j["zone"] = 1; }},
        {"decoys without seed", [](Json& j) { j["decoys"] = Json::parse(R"({"count": 5})"); }},
        {"a negative number of decoys",
         [](Json& j) { j["decoys"] = Json::parse(R"({"count": -1, "seed": 2})"); }},
    };
    for (const auto& c : cases) {
        Json json = Json::parse(kMinimal);
        c.change(json);
        EXPECT_THROW(BenchmarkCorpus::fromJson(json), BenchmarkCorpus::Error) << c.what;
    }
    EXPECT_THROW(BenchmarkCorpus::fromJson(Json::array()), BenchmarkCorpus::Error);
}

TEST(BenchmarkCorpusDecoding, EveryCategoryString) {
    const std::pair<const char*, QueryCategory> cases[] = {
        {"keyword", QueryCategory::keyword},
        {"semantic", QueryCategory::semantic},
        {"temporal", QueryCategory::temporal},
        {"multi-hop", QueryCategory::multiHop},
        {"negation", QueryCategory::negation},
        {"person", QueryCategory::person},
        {"attachment", QueryCategory::attachment},
        {"reaction", QueryCategory::reaction},
        {"everyday", QueryCategory::everyday},
        {"reply", QueryCategory::reply},
        {"when", QueryCategory::when},
        {"time", QueryCategory::time},
        {"askedfor", QueryCategory::askedFor},
        {"topicword", QueryCategory::topicWord},
        {"wording", QueryCategory::wording}};
    for (const auto& [text, category] : cases) {
        EXPECT_EQ(queryCategoryFromString(text), category);
        EXPECT_EQ(toString(category), text);
    }
}

TEST(BenchmarkCorpusWriting, KeyOrderAndAbsentFieldsLeftOut) {
    CorpusQuery query{"q1",     "dinner",    QueryCategory::multiHop, "desc", {"a"}, std::nullopt,
                      "a note", std::nullopt};
    std::vector<std::string> keys;
    const Json written = query.toJson();
    for (const auto& [key, value] : written.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "text", "category", "description", "notes",
                                              "expected_guids"}));
    EXPECT_EQ(query.toJson()["category"], "multi-hop");

    CorpusQuery bare{"q2", "x",          QueryCategory::keyword, std::nullopt,
                     {},   std::nullopt, std::nullopt,           std::nullopt};
    EXPECT_EQ(bare.toJson().dump(),
              R"({"id":"q2","text":"x","category":"keyword","expected_guids":[]})");
    EXPECT_EQ(CorpusQuery::fromJson(Json::parse(bare.toJson().dump())), bare);

    CorpusMessage message{"g", "c", std::nullopt, "me", "hi", 9, true, false, {}, {}};
    EXPECT_EQ(message.toJson().dump(),
              R"({"guid":"g","chat_id":"c","sender":"me","text":"hi","timestamp":9,)"
              R"("is_from_me":true,"is_group":false})");
}

// A corpus for engines that read questions: people, attachments, the
// moment and zone of the questions, and decoys.
const char* kAsked = R"({
  "version": "2",
  "messages": [
    {"guid": "m1", "chat_id": "c1", "sender": "+15550001", "text": "the zeppelin landed",
     "timestamp": 700000000000000000, "is_from_me": false, "is_group": false,
     "attachments": [{"kind": "photo", "name": "IMG_1.jpg"}, {"kind": "pdf"}],
     "reactions": [{"kind": "love", "sender": "me"},
                   {"kind": "emoji", "sender": "+15550002", "emoji": "🎉"}]}
  ],
  "queries": [
    {"id": "q1", "text": "zeppelin", "category": "person", "expected_guids": ["m1"],
     "question": "what did Mom say about the zeppelin?"}
  ],
  "contacts": [{"name": "Linda Harper", "nicknames": ["Mom"], "handles": ["+15550001"]},
               {"name": "Sam", "handles": []}],
  "now": 700000100000000000,
  "zone": "Europe/London",
  "decoys": {"count": 3000, "seed": 42}
})";

TEST(BenchmarkCorpusDecoding, ReadsPeopleAttachmentsQuestionsAndDecoys) {
    auto corpus = BenchmarkCorpus::fromJson(Json::parse(kAsked));
    ASSERT_EQ(corpus.messages[0].attachments.size(), 2u);
    EXPECT_EQ(corpus.messages[0].attachments[0], (CorpusAttachment{"photo", "IMG_1.jpg"}));
    EXPECT_EQ(corpus.messages[0].attachments[1], (CorpusAttachment{"pdf", std::nullopt}));
    EXPECT_EQ(
        corpus.messages[0].reactions,
        (std::vector<CorpusReaction>{{"love", "me", std::nullopt}, {"emoji", "+15550002", "🎉"}}));
    EXPECT_EQ(corpus.queries[0].question, "what did Mom say about the zeppelin?");
    ASSERT_TRUE(corpus.contacts);
    EXPECT_EQ((*corpus.contacts)[0], (CorpusContact{"Linda Harper", {"Mom"}, {"+15550001"}}));
    EXPECT_TRUE((*corpus.contacts)[1].nicknames.empty());
    EXPECT_EQ(corpus.now, 700000100000000000);
    EXPECT_EQ(corpus.zone, "Europe/London");
    EXPECT_EQ(corpus.decoys, (CorpusDecoys{3000, 42}));
    // Absent in an older corpus.
    auto older = BenchmarkCorpus::fromJson(Json::parse(kMinimal));
    EXPECT_FALSE(older.contacts || older.now || older.zone || older.decoys);
    EXPECT_TRUE(older.messages[0].attachments.empty());
    EXPECT_TRUE(older.messages[0].reactions.empty());
    EXPECT_FALSE(older.queries[0].question);

    ShadowMessage indexed = corpus.messages[0].toShadowMessage();
    ASSERT_EQ(indexed.attachments().size(), 2u);
    EXPECT_EQ(indexed.attachments()[0].kind, "photo");
    EXPECT_EQ(indexed.attachments()[0].name, "IMG_1.jpg");
    EXPECT_FALSE(indexed.attachments()[0].hidden);
    EXPECT_NE(indexed.attachments()[0].guid, indexed.attachments()[1].guid);
}

TEST(BenchmarkCorpusDecoding, QueriesHeldAsideByFlagOrId) {
    struct Case {
        const char* id;
        std::optional<bool> flag;
        bool heldOut;
    };
    const Case cases[] = {
        {"q1", std::nullopt, false},  {"q1", true, true},    {"q1", false, false},
        {"h-q1", std::nullopt, true}, {"h-q1", false, true}, {"hq1", std::nullopt, false},
    };
    for (const Case& c : cases) {
        Json json = Json::parse(kMinimal);
        json["queries"][0]["id"] = c.id;
        if (c.flag) {
            json["queries"][0]["held_out"] = *c.flag;
        }
        const CorpusQuery query = BenchmarkCorpus::fromJson(json).queries[0];
        EXPECT_EQ(query.heldOut, c.heldOut) << c.id;
        EXPECT_EQ(CorpusQuery::fromJson(query.toJson()), query) << c.id;
    }
}

TEST(BenchmarkCorpusWriting, WholeDocumentRoundTrips) {
    for (const char* document : {kMinimal, kAsked}) {
        auto corpus = BenchmarkCorpus::fromJson(Json::parse(document));
        EXPECT_EQ(BenchmarkCorpus::fromJson(Json::parse(corpus.toJson().dump())), corpus);
    }
}

TEST(BenchmarkCorpusDecoys, SameSeedSameDecoysFromStrangersWithinTwoYears) {
    const auto corpus = BenchmarkCorpus::fromJson(Json::parse(kAsked));
    const auto buried = corpus.withDecoys();
    ASSERT_EQ(buried.messages.size(), 3001u);
    EXPECT_EQ(buried.messages[0], corpus.messages[0]);
    EXPECT_EQ(corpus.withDecoys(), buried);

    auto reseeded = corpus;
    reseeded.decoys->seed = 43;
    EXPECT_NE(reseeded.withDecoys().messages, buried.messages);

    const int64_t now = *corpus.now;
    const int64_t day = 86'400'000'000'000;
    std::set<std::string> guids;
    size_t oldWithCorpusWords = 0;
    for (size_t i = 1; i < buried.messages.size(); ++i) {
        const CorpusMessage& decoy = buried.messages[i];
        EXPECT_TRUE(guids.insert(decoy.guid).second) << decoy.guid;
        EXPECT_NE(decoy.sender, "+15550001");
        EXPECT_NE(decoy.chatId, "c1");
        EXPECT_EQ(decoy.isFromMe, decoy.sender == "me");
        EXPECT_LE(decoy.timestamp, now);
        EXPECT_GE(decoy.timestamp, now - 730 * day);
        const bool corpusWord = decoy.text.find("zeppelin") != std::string::npos ||
                                decoy.text.find("landed") != std::string::npos;
        if (decoy.timestamp > now - 60 * day) {
            EXPECT_FALSE(corpusWord) << decoy.text;
        }
        oldWithCorpusWords += corpusWord ? 1 : 0;
    }
    EXPECT_GT(oldWithCorpusWords, 0u);

    auto none = corpus;
    none.decoys.reset();
    EXPECT_EQ(none.withDecoys(), none);
}

TEST(CorpusMessageConversion, CopiesFieldsAndIgnoresChats) {
    auto corpus = BenchmarkCorpus::fromJson(Json::parse(kMinimal));
    ShadowMessage named = corpus.messages[0].toShadowMessage();
    EXPECT_EQ(named.guid(), "m1");
    EXPECT_EQ(named.chatId(), "c1");
    EXPECT_EQ(named.chatName(), "Family");
    EXPECT_EQ(named.sender(), "+15550001");
    EXPECT_EQ(named.text(), "dinner at 7?");
    EXPECT_EQ(named.timestamp(), 700000000000000000);
    EXPECT_FALSE(named.isFromMe());
    EXPECT_TRUE(named.isGroup());
    EXPECT_FALSE(named.hasAttachments());
    EXPECT_TRUE(named.attachmentTypes().empty());
    EXPECT_GE(named.sourceRowid(), 0);
    // The chat c1 has a name, but a message without one stays without one.
    ShadowMessage unnamed = corpus.messages[1].toShadowMessage();
    EXPECT_FALSE(unnamed.chatName());
    EXPECT_EQ(unnamed.timestamp(), -5);
    EXPECT_EQ(corpus.messages[0].toShadowMessage().sourceRowid(), named.sourceRowid());
}

TEST(BenchmarkCorpusLoading, FileFailures) {
    testing::TempDir dir;
    EXPECT_THROW(BenchmarkCorpus::load(dir.file("missing.json")), BenchmarkCorpus::Error);
    EXPECT_THROW(BenchmarkCorpus::load(dir.path().string()), BenchmarkCorpus::Error);
    testing::writeFile(dir.file("bad.json"), "{\"version\": ");
    try {
        BenchmarkCorpus::load(dir.file("bad.json"));
        ADD_FAILURE();
    } catch (const BenchmarkCorpus::Error& error) {
        EXPECT_EQ(error.kind(), BenchmarkCorpus::Error::Kind::invalidJson);
    }
    testing::writeFile(dir.file("ok.json"), kMinimal);
    EXPECT_EQ(BenchmarkCorpus::load(dir.file("ok.json")).messages.size(), 2u);
}

} // namespace
} // namespace orlune::core
