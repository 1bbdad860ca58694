#include "benchmark/FTS5SearchBackend.hpp"
#include "shadow/ShadowDB.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/TempDir.hpp"
#include "time/StoreTime.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using orlune::testing::ScopedEnv;
using orlune::testing::TempDir;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

ShadowMessage message(std::string guid, std::string text,
                      std::optional<std::string> chatName = "Book club",
                      std::string sender = "+15550001", int64_t timestamp = 100) {
    std::string chatId = "chat-" + (chatName ? *chatName : std::string("none"));
    bool fromMe = sender == "me";
    return ShadowMessage(std::move(guid), std::move(chatId), std::move(chatName), std::move(sender),
                         std::move(text), timestamp, fromMe, true, false, {}, 1);
}

std::vector<std::string> guids(const std::vector<SearchResult>& results) {
    std::vector<std::string> out;
    for (const auto& r : results) {
        out.push_back(r.guid);
    }
    return out;
}

class ShadowSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<ShadowDB>(dir.file("shadow.db"));
        db->createSchemaIfNeeded();
        db->insertBatch({
            message("both", "Dinner tomorrow? I can book the table"),
            message("dinner-only", "dinner was lovely, thanks again"),
            message("tomorrow-only", "tomorrow works for me"),
            message("repeat", "dinner dinner dinner tomorrow tomorrow"),
            message("in-name", "see everyone there", std::string("Dinner crew")),
            message("in-sender", "running late", std::nullopt, "rosalind@example.com", 200),
        });
    }
    TempDir dir;
    std::unique_ptr<ShadowDB> db;
};

TEST_F(ShadowSearchTest, BarewordsMustAllMatchAndComeBestFirst) {
    auto results = db->search("dinner tomorrow", 10);
    EXPECT_THAT(guids(results), UnorderedElementsAre("both", "repeat"));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_LE(results[0].rank, results[1].rank);
    EXPECT_LT(results[0].rank, 0);
    EXPECT_EQ(results[0].guid, "repeat");
}

TEST_F(ShadowSearchTest, ChatNameAndSenderAreSearchedAndFieldsJoined) {
    auto named = db->search("crew", 10);
    ASSERT_EQ(guids(named), std::vector<std::string>{"in-name"});
    EXPECT_EQ(named[0].chatName, "Dinner crew");
    EXPECT_EQ(named[0].text, "see everyone there");
    EXPECT_EQ(named[0].chatId, "chat-Dinner crew");
    EXPECT_TRUE(named[0].isGroup);

    auto bySender = db->search("rosalind", 10);
    ASSERT_EQ(guids(bySender), std::vector<std::string>{"in-sender"});
    EXPECT_FALSE(bySender[0].chatName);
    EXPECT_EQ(bySender[0].sender, "rosalind@example.com");
    EXPECT_EQ(bySender[0].timestamp, 200);
    EXPECT_EQ(guids(db->search("sender:rosalind", 10)), std::vector<std::string>{"in-sender"});
    EXPECT_TRUE(db->search("text:rosalind", 10).empty());
}

TEST_F(ShadowSearchTest, SyntaxFTS5RejectsGivesNothingAndNoError) {
    for (const char* query :
         {"", "\"dinner", "dinner?", "what's up", "book-club", "lovely.", "AND", "(dinner"}) {
        EXPECT_TRUE(db->search(query, 10).empty()) << query;
    }
    EXPECT_EQ(guids(db->search("\"dinner was lovely\"", 10)),
              std::vector<std::string>{"dinner-only"});
    EXPECT_EQ(guids(db->search("\"lovely.\"", 10)), std::vector<std::string>{"dinner-only"});
    EXPECT_THAT(guids(db->search("din*", 10)), ::testing::SizeIs(4));
    EXPECT_THAT(guids(db->search("dinner NOT tomorrow", 10)),
                UnorderedElementsAre("dinner-only", "in-name"));
}

TEST_F(ShadowSearchTest, Limits) {
    EXPECT_TRUE(db->search("dinner", 0).empty());
    EXPECT_EQ(db->search("dinner", 1).size(), 1u);
    EXPECT_EQ(db->search("dinner", -1).size(), 4u);
    // The query is read up to its first NUL.
    EXPECT_EQ(db->search(std::string("crew\0dinner", 11), 10).size(), 1u);
}

TEST_F(ShadowSearchTest, AReplacedMessageComesBackOnceWithItsNewText) {
    db->insertBatch({message("both", "Dinner moved to Friday")});
    auto found = guids(db->search("dinner", -1));
    EXPECT_EQ(std::count(found.begin(), found.end(), "both"), 1);
    EXPECT_TRUE(db->search("book table", 10).empty());
    EXPECT_EQ(guids(db->search("friday", 10)), std::vector<std::string>{"both"});
}

// A search within senders is narrowed by the index's sender column before
// any message is read; it must find exactly what the senders' messages hold,
// whatever their handles look like, and rank them by their words alone.
TEST_F(ShadowSearchTest, ASearchWithinSendersFindsExactlyTheirMessages) {
    db->insertBatch({
        message("alex", "flight flight to Oslo", std::nullopt, "alex@example.com"),
        message("alex-once", "the flight is late, we are at the gate now", std::nullopt,
                "alex@example.com"),
        message("alex-au", "flight to Perth", std::nullopt, "alex@example.com.au"),
        message("phone", "flight booked", std::nullopt, "+1 (555) 010-0001"),
        message("quoted", "flight \"seats\"", std::nullopt, "say \"hi\" box"),
        message("no-letters", "flight home", std::nullopt, "--"),
        message("mine", "my flight lands at 9", std::nullopt, "me"),
        message("example-word", "an example of a flight", std::nullopt, "+15550001"),
    });
    const struct {
        std::string query;
        std::vector<std::string> senders;
        bool fromMe;
        std::vector<std::string> guids;
    } cases[] = {
        {"flight", {"alex@example.com"}, false, {"alex", "alex-once"}},
        {"flight", {"alex@example.com.au"}, false, {"alex-au"}},
        {"flight", {"+1 (555) 010-0001"}, false, {"phone"}},
        {"flight", {"say \"hi\" box"}, false, {"quoted"}},
        {"flight", {"--"}, false, {"no-letters"}},
        {"flight", {}, true, {"mine"}},
        {"flight", {"+1 (555) 010-0001"}, true, {"phone", "mine"}},
        {"fli*", {"alex@example.com", "--"}, false, {"alex", "no-letters", "alex-once"}},
        // The word "example" is in Alex's handle, not in what Alex wrote.
        {"example", {"alex@example.com"}, false, {"alex", "alex-once"}},
        {"(flight OR seats) AND gate", {"alex@example.com"}, false, {"alex-once"}},
        // Malformed expressions still find nothing, narrowed or not.
        {"flight) OR (gate", {"alex@example.com"}, false, {}},
        {"\"flight", {"alex@example.com"}, false, {}},
        {"lunch", {"alex@example.com"}, false, {}},
    };
    for (const auto& c : cases) {
        MessageScope scope;
        scope.senders = c.senders;
        scope.fromMe = c.fromMe;
        const auto found = guids(db->search(c.query, scope, 10, QueryBounds{}).results);
        EXPECT_THAT(found, ::testing::UnorderedElementsAreArray(c.guids))
            << c.query << " from " << ::testing::PrintToString(c.senders);
    }
    // Twice the word ranks above once, as without a scope.
    MessageScope alex;
    alex.senders = std::vector<std::string>{"alex@example.com"};
    EXPECT_THAT(guids(db->search("flight", alex, 10, QueryBounds{}).results),
                ElementsAre("alex", "alex-once"));
}

// A search within a time first narrows the index to the rowids of the
// messages in that time. Messages are not always stored in the order they
// were sent, and the store keeps dates in seconds or nanoseconds: the search
// must still find exactly the messages of its time.
TEST_F(ShadowSearchTest, ASearchWithinATimeFindsExactlyItsMessagesInAnyOrderAndUnit) {
    using namespace std::chrono;
    constexpr int64_t kDay = 86'400;
    constexpr int64_t kNano = 1'000'000'000;
    const int64_t day = 800'000'000; // seconds since 2001, early in 2026
    db->insertBatch({
        message("in-seconds", "train tickets", std::nullopt, "+15550001", day + 3600),
        message("day-before", "train tickets", std::nullopt, "+15550001", day - kDay),
        message("in-nanoseconds", "train tickets", std::nullopt, "+15550001", (day + 7200) * kNano),
        message("day-after", "train tickets", std::nullopt, "+15550001", (day + kDay) * kNano),
        // Stored last, sent first.
        message("late-copy", "train tickets", std::nullopt, "+15550001", day + 60),
    });
    const auto at = [](int64_t storeSeconds) {
        return Instant(seconds(storeSeconds + kStoreEpochUnixSeconds));
    };
    const struct {
        TimeRange time;
        std::vector<std::string> guids;
    } cases[] = {
        {{at(day), at(day + kDay)}, {"in-seconds", "in-nanoseconds", "late-copy"}},
        {{at(day - kDay), at(day)}, {"day-before"}},
        {{at(day + kDay), std::nullopt}, {"day-after"}},
        {{std::nullopt, at(day)}, {"day-before"}},
        {{at(day + 2 * kDay), std::nullopt}, {}},
    };
    for (const auto& c : cases) {
        MessageScope scope;
        scope.time = c.time;
        EXPECT_THAT(guids(db->search("tickets", scope, 10, QueryBounds{}).results),
                    ::testing::UnorderedElementsAreArray(c.guids));
    }
}

TEST(ShadowSearchSchema, AFileWithoutTheSchemaFailsToPrepare) {
    TempDir dir;
    ShadowDB db(dir.file("empty.db"));
    try {
        db.search("x", 1);
        ADD_FAILURE();
    } catch (const ShadowDB::Error& error) {
        EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::prepareFailed);
        EXPECT_STREQ(error.what(), "Statement preparation failed: no such table: messages_fts");
    }
}

TEST(FTS5SearchBackendTest, TemporaryFileIngestSearchAndReset) {
    TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.path().string());
    FTS5SearchBackend engine(std::nullopt);
    EXPECT_EQ(engine.name(), "FTS5");
    std::string file = std::filesystem::path(engine.databasePath()).filename().string();
    EXPECT_EQ(std::filesystem::path(engine.databasePath()).parent_path(), dir.path());
    ASSERT_EQ(file.size(), std::string("bench-shadow-").size() + 36 + 3) << file;
    EXPECT_TRUE(file.starts_with("bench-shadow-"));
    EXPECT_TRUE(file.ends_with(".db"));
    EXPECT_EQ(file.substr(13, 36).find_first_not_of("0123456789ABCDEF-"), std::string::npos);

    EXPECT_TRUE(engine.search("parking", 5).empty());
    engine.ingest({message("a", "parking at the station"), message("b", "parking is free")});
    engine.ingest({message("a", "meet at the station")});
    EXPECT_EQ(engine.search("parking", 5), std::vector<std::string>{"b"});
    EXPECT_EQ(engine.search("station", 5), std::vector<std::string>{"a"});

    engine.reset();
    EXPECT_TRUE(engine.search("parking", 5).empty());
    engine.ingest({message("c", "parking again")});
    EXPECT_EQ(engine.search("parking", 5), std::vector<std::string>{"c"});

    std::string path = engine.databasePath();
    {
        FTS5SearchBackend other(std::nullopt);
        EXPECT_NE(other.databasePath(), path);
    }
    // The engine's file stays behind it.
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(FTS5SearchBackendTest, GivenPathSearchesWhatIsThereAndResetDeletesCompanions) {
    TempDir dir;
    std::string path = dir.file("given.db");
    {
        ShadowDB db(path);
        db.createSchemaIfNeeded();
        db.insertBatch({message("old", "an earlier message")});
    }
    FTS5SearchBackend engine(path);
    EXPECT_EQ(engine.search("earlier", 5), std::vector<std::string>{"old"});
    testing::writeFile(path + "-shm.unrelated", "x");
    engine.reset();
    EXPECT_TRUE(engine.search("earlier", 5).empty());

    // Files already gone: reset still leaves an empty, searchable database.
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    engine.reset();
    EXPECT_TRUE(engine.search("anything", 5).empty());
}

TEST(FTS5SearchBackendTest, AFailedReopenLeavesTheEngineFailingUntilAResetWorks) {
    TempDir dir;
    std::string folder = dir.file("sub");
    std::filesystem::create_directory(folder);
    FTS5SearchBackend engine(folder + "/db.db");
    std::filesystem::remove_all(folder);
    EXPECT_THROW(engine.reset(), ShadowDB::Error);
    EXPECT_THROW(engine.search("x", 5), ShadowDB::Error);
    std::filesystem::create_directory(folder);
    engine.reset();
    EXPECT_TRUE(engine.search("x", 5).empty());
}

TEST(FTS5SearchBackendTest, ConstructionFailsWhereNoFileCanBeMade) {
    TempDir dir;
    EXPECT_THROW(FTS5SearchBackend(dir.file("missing/dir/db.db")), ShadowDB::Error);
}

} // namespace
} // namespace orlune::core
