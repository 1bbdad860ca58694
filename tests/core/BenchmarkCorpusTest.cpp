#include "OrluneCore/BenchmarkCorpus.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

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
    };
    for (const auto& c : cases) {
        Json json = Json::parse(kMinimal);
        c.change(json);
        EXPECT_THROW(BenchmarkCorpus::fromJson(json), BenchmarkCorpus::Error) << c.what;
    }
    EXPECT_THROW(BenchmarkCorpus::fromJson(Json::array()), BenchmarkCorpus::Error);
}

TEST(BenchmarkCorpusDecoding, EveryCategoryString) {
    const std::pair<const char*, QueryCategory> cases[] = {{"keyword", QueryCategory::keyword},
                                                           {"semantic", QueryCategory::semantic},
                                                           {"temporal", QueryCategory::temporal},
                                                           {"multi-hop", QueryCategory::multiHop},
                                                           {"negation", QueryCategory::negation}};
    for (const auto& [text, category] : cases) {
        EXPECT_EQ(queryCategoryFromString(text), category);
        EXPECT_EQ(toString(category), text);
    }
}

TEST(BenchmarkCorpusWriting, KeyOrderAndAbsentFieldsLeftOut) {
    CorpusQuery query{"q1",         "dinner", QueryCategory::multiHop, "desc", {"a"},
                      std::nullopt, "a note"};
    std::vector<std::string> keys;
    const Json written = query.toJson();
    for (const auto& [key, value] : written.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "text", "category", "description", "notes",
                                              "expected_guids"}));
    EXPECT_EQ(query.toJson()["category"], "multi-hop");

    CorpusQuery bare{"q2",         "x",         QueryCategory::keyword, std::nullopt, {},
                     std::nullopt, std::nullopt};
    EXPECT_EQ(bare.toJson().dump(),
              R"({"id":"q2","text":"x","category":"keyword","expected_guids":[]})");
    EXPECT_EQ(CorpusQuery::fromJson(Json::parse(bare.toJson().dump())), bare);

    CorpusMessage message{"g", "c", std::nullopt, "me", "hi", 9, true, false};
    EXPECT_EQ(message.toJson().dump(),
              R"({"guid":"g","chat_id":"c","sender":"me","text":"hi","timestamp":9,)"
              R"("is_from_me":true,"is_group":false})");
}

TEST(BenchmarkCorpusWriting, WholeDocumentRoundTrips) {
    auto corpus = BenchmarkCorpus::fromJson(Json::parse(kMinimal));
    EXPECT_EQ(BenchmarkCorpus::fromJson(Json::parse(corpus.toJson().dump())), corpus);
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
