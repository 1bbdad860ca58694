// The semantic lane: messages are embedded through a model server (here a
// deterministic fake on 127.0.0.1) in batches that survive a failure, made
// again for another model or dimension and dropped with their messages; a
// question then also finds messages that say the same in other words, while
// a message with the question's own words still ranks first, and a server
// that fails or is slow leaves the answer from words unchanged.

#include "answer/SemanticLane.hpp"

#include "answer/AnswerFinder.hpp"
#include "sync/CurlEmbeddingGateway.hpp"
#include "sync/MessageEmbedder.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/FakeEmbeddingServer.hpp"
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
using ::testing::Contains;
using testing::DatabaseProbe;
using ::testing::ElementsAre;
using testing::FakeEmbeddingServer;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Handles: 1 Lena Fischer, 2 Theo Marsh. Chats: 1 with Lena, 2 with Theo.
struct Row {
    const char* guid;
    const char* text;
    const char* utc;
    int64_t handle; // 0: sent by me
    int64_t chat;
};
const Row kRows[] = {
    {"brakes", "they fixed the brakes, all good now", "2025-11-03 10:00", 2, 2},
    {"mechanic", "my mechanic wants 300 for the tyres", "2025-11-04 10:00", 1, 1},
    {"checkup", "the dog's jabs went fine, nothing else needed", "2025-11-05 10:00", 1, 1},
    {"film", "that film last night was so long", "2025-11-06 10:00", 2, 2},
    {"late", "running late, sorry", "2025-11-07 10:00", 0, 1},
    {"soon", "see you soon", "2025-11-08 10:00", 0, 2},
    {"ok", "ok", "2025-11-09 10:00", 2, 2},
};
constexpr int64_t kEmbeddable = std::size(kRows);

// Words on the same axis are near in meaning.
const std::map<std::string, int> kAxes = {
    {"garage", 0}, {"mechanic", 0}, {"brakes", 0}, {"dog", 1}, {"vet", 1}, {"film", 2},
};
constexpr int kDimension = 4;
const std::string kModel = "fake-embed";

void writeStore(const std::string& path) {
    ChatStoreWriter store(path, ChatStoreWriter::CreateOptions{});
    const char* numbers[] = {"+15550100001", "+15550100002"};
    for (int64_t i = 0; i < 2; ++i) {
        store.addHandle(
            HandleRow{i + 1, std::string(numbers[i]), std::string("iMessage"), std::string("us")});
        store.addChat(ChatRow{i + 1, std::string("iMessage;-;") + numbers[i], std::nullopt,
                              samplestore::kDirectChatStyle, numbers[i]});
        store.addChatMember(i + 1, i + 1);
    }
    int64_t rowid = 0;
    for (const Row& r : kRows) {
        MessageRow row;
        row.rowid = ++rowid;
        row.guid = r.guid;
        row.text = r.text;
        row.date = testing::peopleStoreDate(r.utc);
        row.isFromMe = r.handle == 0;
        row.handleId = r.handle;
        store.addMessage(row);
        store.joinMessageToChat(row.rowid, r.chat, row.date);
    }
}

class SemanticLaneTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    testing::FakeEnvironment environment;
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    FakeEmbeddingServer server{kAxes, kDimension};
    CurlEmbeddingGateway gateway{server.baseUrl(), ""};
    TimeContext now{testing::instantAt("2025-12-08T12:00+00:00"), "Europe/London", "en_GB"};

    void SetUp() override {
        writeStore(storePath);
        const std::string books = dir.file("AddressBook");
        AddressBookWriter book(AddressBookWriter::bookPath(books));
        book.addContact({.firstName = "Lena", .lastName = "Fischer", .phones = {"+15550100001"}});
        book.addContact({.firstName = "Theo", .lastName = "Marsh", .phones = {"+15550100002"}});
        environment.home = dir.path().string();
        environment.variables["ADDRESS_BOOK_PATH"] = books;
        environment.variables["LANG"] = "en_US.UTF-8";
        sync();
    }

    void sync(std::optional<std::set<std::string>> excluded = std::nullopt) {
        ShadowSync engine(storePath, shadowPath, environment);
        engine.setExcludedChats(std::move(excluded));
        engine.performSync();
    }

    VectorProgress embed(const std::string& model = kModel, int batchSize = 3,
                         const MessageEmbedder::Progress& progress = nullptr) {
        ShadowDB db(shadowPath);
        MessageEmbedder::Options options;
        options.batchSize = batchSize;
        return MessageEmbedder(db, gateway, model, options).run(progress);
    }

    // Every text sent in the requests from the `from`-th on.
    std::vector<std::string> textsSent(size_t from = 0) const {
        std::vector<std::string> texts;
        const auto requests = server.requests();
        for (size_t i = from; i < requests.size(); ++i) {
            texts.insert(texts.end(), requests[i].input.begin(), requests[i].input.end());
        }
        return texts;
    }

    // The texts of stored messages among them (not the length probe).
    std::vector<std::string> messageTextsSent(size_t from) const {
        std::vector<std::string> texts = textsSent(from);
        std::erase_if(texts, [](const std::string& text) {
            return std::none_of(std::begin(kRows), std::end(kRows),
                                [&](const Row& row) { return text == row.text; });
        });
        return texts;
    }

    std::vector<std::vector<std::string>> storedModel() {
        return DatabaseProbe(shadowPath).rows("SELECT model, dimension FROM vector_model");
    }

    std::string vectorCount() {
        return DatabaseProbe(shadowPath).value("SELECT count(*) FROM message_vectors");
    }

    // The guids `question` finds, best first, with the semantic lane on
    // (through `lane`) or off (nullptr).
    std::vector<std::string> answer(const std::string& question, EmbeddingGateway* lane,
                                    std::string* note = nullptr,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(4)) {
        ShadowDBReader db(shadowPath);
        AnswerFinder finder(db);
        finder.useSemanticSearch(lane, timeout);
        const FoundAnswer found = finder.find(question, now, 5, QueryBounds{});
        if (note != nullptr) {
            *note = found.semanticNote;
        }
        std::vector<std::string> guids;
        for (const RankedMessage& message : found.messages) {
            guids.push_back(message.message.guid);
        }
        return guids;
    }
};

TEST_F(SemanticLaneTest, EmbedsEveryMessageInBatchesWithProgressAndThenNothingMore) {
    std::vector<VectorProgress> seen;
    const VectorProgress done =
        embed(kModel, 3, [&](const VectorProgress& progress) { seen.push_back(progress); });

    EXPECT_EQ(done, (VectorProgress{kEmbeddable, kEmbeddable}));
    EXPECT_THAT(seen, ElementsAre(VectorProgress{0, kEmbeddable}, VectorProgress{3, kEmbeddable},
                                  VectorProgress{6, kEmbeddable},
                                  VectorProgress{kEmbeddable, kEmbeddable}));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.path, "/v1/embeddings");
        EXPECT_EQ(request.model, kModel);
    }
    EXPECT_EQ(requests[0].input,
              (std::vector<std::string>{kRows[0].text, kRows[1].text, kRows[2].text}));
    EXPECT_EQ(textsSent().size(), static_cast<size_t>(kEmbeddable));
    EXPECT_THAT(storedModel(), ElementsAre(ElementsAre(kModel, std::to_string(kDimension))));
    EXPECT_EQ(DatabaseProbe(shadowPath)
                  .value("SELECT count(*) FROM message_vectors WHERE length(vector) = " +
                         std::to_string(kDimension)),
              std::to_string(kEmbeddable));

    // Everything has its vector: a second run only asks for the vectors'
    // length, with a text of no message.
    EXPECT_EQ(embed(), (VectorProgress{kEmbeddable, kEmbeddable}));
    ASSERT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(server.requests()[3].input.size(), 1u);
    EXPECT_THAT(kRows, Not(Contains(::testing::Field(&Row::text, server.requests()[3].input[0]))));
}

TEST_F(SemanticLaneTest, AFailedBatchKeepsTheBatchesBeforeItAndTheNextRunGoesOn) {
    // The second request fails.
    const auto failSecond = [&](const VectorProgress& progress) {
        if (progress.embedded == 3) {
            server.failNextRequest();
        }
    };
    try {
        embed(kModel, 3, failSecond);
        FAIL() << "a failed batch must be reported";
    } catch (const EmbeddingError& error) {
        EXPECT_THAT(error.what(), HasSubstr("HTTP status 500"));
        EXPECT_THAT(error.what(), HasSubstr("model not loaded"));
    }
    EXPECT_EQ(vectorCount(), "3");

    const size_t before = server.requests().size();
    EXPECT_EQ(embed(), (VectorProgress{kEmbeddable, kEmbeddable}));
    // Only what the first run did not store is sent again.
    EXPECT_EQ(textsSent(before).size(), static_cast<size_t>(kEmbeddable - 3));
    EXPECT_THAT(textsSent(before), Not(Contains(std::string(kRows[0].text))));
}

TEST_F(SemanticLaneTest, AnotherModelOrDimensionEmbedsEverythingAgain) {
    struct Case {
        const char* what;
        std::string model;
        int dimension;
    };
    for (const Case& c : {Case{"another model", "other-embed", kDimension},
                          Case{"another dimension", kModel, kDimension + 3}}) {
        SCOPED_TRACE(c.what);
        server.setDimension(kDimension);
        embed();
        const size_t before = server.requests().size();
        server.setDimension(c.dimension);

        EXPECT_EQ(embed(c.model), (VectorProgress{kEmbeddable, kEmbeddable}));
        EXPECT_EQ(messageTextsSent(before).size(), static_cast<size_t>(kEmbeddable));
        EXPECT_THAT(storedModel(), ElementsAre(ElementsAre(c.model, std::to_string(c.dimension))));
        EXPECT_EQ(DatabaseProbe(shadowPath)
                      .value("SELECT count(*) FROM message_vectors WHERE length(vector) = " +
                             std::to_string(c.dimension)),
                  std::to_string(kEmbeddable));
    }
}

TEST_F(SemanticLaneTest, AVectorGoesWithItsMessageItsChatOrItsText) {
    embed();
    // Theo's chat left out: its messages and their vectors go.
    sync(std::set<std::string>{"iMessage;-;+15550100002"});
    DatabaseProbe probe(shadowPath);
    EXPECT_EQ(vectorCount(), probe.value("SELECT count(*) FROM messages"));
    EXPECT_EQ(probe.value("SELECT count(*) FROM message_vectors "
                          "WHERE message_rowid NOT IN (SELECT rowid FROM messages)"),
              "0");
    EXPECT_EQ(vectorCount(), "3");

    // A text that changes needs a new vector, and gets one.
    probe.exec("UPDATE messages SET text = 'the vet said the dog is fine' WHERE guid = 'late'");
    EXPECT_EQ(vectorCount(), "2");
    const size_t before = server.requests().size();
    embed();
    EXPECT_THAT(textsSent(before), ElementsAre("the vet said the dog is fine"));
}

TEST(FuseVectorHits, WordHitsLeadAndMeaningFillsIn) {
    const auto ranked = [](std::initializer_list<const char*> guids) {
        std::vector<RankedMessage> out;
        int rank = 0;
        for (const char* guid : guids) {
            SearchResult message;
            message.guid = guid;
            out.push_back(RankedMessage{message, 1.0 / (kFusionConstant + ++rank), 0});
        }
        return out;
    };
    const auto hits = [](std::initializer_list<const char*> guids) {
        std::vector<SearchResult> out;
        for (const char* guid : guids) {
            SearchResult message;
            message.guid = guid;
            out.push_back(message);
        }
        return out;
    };
    const auto guids = [](const std::vector<RankedMessage>& messages) {
        std::vector<std::string> out;
        for (const RankedMessage& m : messages) {
            out.push_back(m.message.guid);
        }
        return out;
    };
    struct Case {
        const char* what;
        std::vector<RankedMessage> words;
        std::vector<SearchResult> vectors;
        size_t limit;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"no vector hits: the words' order", ranked({"a", "b"}), {}, 5, {"a", "b"}},
        {"no word hits: the vectors' order", {}, hits({"x", "y"}), 5, {"x", "y"}},
        {"a message found both ways rises above one found by words alone",
         ranked({"a", "b"}),
         hits({"x", "b"}),
         5,
         {"b", "a", "x"}},
        {"a vector hit joins after word hits of its rank",
         ranked({"a", "b", "c"}),
         hits({"x"}),
         5,
         {"a", "b", "c", "x"}},
        {"at most the limit", ranked({"a", "b"}), hits({"x", "y"}), 3, {"a", "b", "x"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(guids(fuseVectorHits(c.words, c.vectors, c.limit)), c.expected) << c.what;
    }
}

TEST_F(SemanticLaneTest, AMessageNearInMeaningIsFoundAndAnExactMatchStillLeads) {
    embed();
    // No word of the question in Lena's message about the dog.
    const std::string vet = "Any news from the vet?";
    EXPECT_THAT(answer(vet, nullptr), Not(Contains("checkup")));
    // Only the messages about as near as the nearest: not the rest.
    EXPECT_THAT(answer(vet, &gateway), ElementsAre("checkup"));

    // "mechanic" is in Lena's message; Theo's message on the brakes only
    // means it.
    const std::string mechanic = "What did the mechanic say?";
    EXPECT_THAT(answer(mechanic, nullptr), Not(Contains("brakes")));
    const std::vector<std::string> both = answer(mechanic, &gateway);
    ASSERT_FALSE(both.empty());
    EXPECT_EQ(both[0], "mechanic");
    EXPECT_THAT(both, Contains("brakes"));

    // Near in meaning, but from someone else than the person asked about.
    EXPECT_THAT(answer("What did Theo say about the vet?", &gateway), Not(Contains("checkup")));
}

TEST_F(SemanticLaneTest, WithoutVectorsOrWithAFailingServerTheWordsAnswerAlone) {
    const std::string question = "What did the mechanic say?";
    const std::vector<std::string> byWords = answer(question, nullptr);
    ASSERT_FALSE(byWords.empty());

    // Nothing embedded yet: the server is not even asked.
    std::string note;
    EXPECT_EQ(answer(question, &gateway, &note), byWords);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(note, "");

    embed();
    struct Case {
        const char* what;
        std::function<void()> breakServer;
        const char* noted;
    };
    const Case cases[] = {
        {"an error", [&] { server.failNextRequest(); }, "HTTP status 500"},
        {"too slow", [&] { server.setDelay(std::chrono::milliseconds(1500)); }, "in time"},
    };
    for (const Case& c : cases) {
        c.breakServer();
        EXPECT_EQ(answer(question, &gateway, &note, std::chrono::milliseconds(300)), byWords)
            << c.what;
        EXPECT_THAT(note, HasSubstr(c.noted)) << c.what;
    }
    server.setDelay(std::chrono::milliseconds(0));
    // Vectors of another length than the stored ones are not compared.
    server.setDimension(kDimension + 1);
    EXPECT_EQ(answer(question, &gateway, &note), byWords);
    EXPECT_THAT(note, HasSubstr("orlune embed"));
}

} // namespace
} // namespace orlune::core
