#include "helper/ShadowDBTools.hpp"

#include "helper/MessageFormat.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/helper/HelperTestSupport.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <functional>
#include <gtest/gtest.h>

namespace orlune::helper {
namespace {

using orlune::testing::TempDir;

class ShadowDBToolsTest : public ::testing::Test {
protected:
    void SetUp() override {
        orlune::testing::writeShadowDatabase(path, orlune::testing::sampleMessages());
    }

    TempDir dir;
    std::string path = dir.file("shadow.db");
};

TEST_F(ShadowDBToolsTest, RunsReadOnlyQueriesWithTypedCells) {
    ShadowDBTools tools(path);
    QueryTable table = tools.query(
        "  SELECT guid, is_from_me, chat_name, 1.5, 1, 1, x'00' FROM messages ORDER BY rowid ;; \n",
        2);
    EXPECT_EQ(table.columns, (std::vector<std::string>{"guid", "is_from_me", "chat_name", "1.5",
                                                       "1", "1_2", "x'00'"}));
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[0][0], "g-dinner-1");
    EXPECT_EQ(table.rows[0][1], 0);
    EXPECT_EQ(table.rows[0][2], "Family");
    EXPECT_EQ(table.rows[0][3], 1.5);
    EXPECT_EQ(table.rows[0][6], "<blob of 1 bytes>");
    EXPECT_TRUE(tools.query("SELECT chat_name FROM messages WHERE guid = 'g-dentist'", 0)
                    .rows[0][0]
                    .is_null());
    EXPECT_EQ(tools.query("SELECT guid FROM messages", 0).rows.size(), 5u);
}

TEST_F(ShadowDBToolsTest, RefusesEverythingThatCouldWrite) {
    ShadowDBTools tools(path);
    // The core's guards decide; these show that every query of the helper
    // passes through them on its read-only connection.
    const std::string refused[] = {
        "DELETE FROM messages",
        "SELECT 1; DELETE FROM messages",
        "PRAGMA query_only = 0",
        "PRAGMA journal_mode = DELETE",
        "ATTACH DATABASE '" + dir.file("other.db") + "' AS other",
        "VACUUM INTO '" + dir.file("copy.db") + "'",
        "BEGIN IMMEDIATE",
        "SELECT hex(fts3_tokenizer('simple'))",
        "   \n ",
    };
    for (const std::string& sql : refused) {
        EXPECT_THROW(tools.query(sql, 10), core::ShadowDBError) << sql;
    }
    EXPECT_EQ(orlune::testing::countMessages(path), 5);
    EXPECT_FALSE(std::filesystem::exists(dir.file("other.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("copy.db")));
}

TEST_F(ShadowDBToolsTest, AllowsPragmasThatOnlyReadTheSchema) {
    ShadowDBTools tools(path);
    EXPECT_FALSE(tools.query("PRAGMA table_info(messages)", 0).rows.empty());
    EXPECT_EQ(tools.query("PRAGMA user_version", 0).rows.size(), 1u);
}

TEST_F(ShadowDBToolsTest, StopsStatementsAndSearchesPastTheDeadline) {
    ShadowDBTools tools(path);
    tools.setDeadline(ShadowDBTools::Clock::now());
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] {
             tools.query("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                         "SELECT count(*) FROM n",
                         1);
         },
         "time limit"},
        {[&] { tools.query("SELECT guid FROM messages", 10); }, "time limit"},
        {[&] { tools.search("\"dinner\"", 10); }, "The search took longer than 0 s"},
    };
    for (const auto& [call, fragment] : cases) {
        try {
            call();
            ADD_FAILURE() << "finished past the deadline: " << fragment;
        } catch (const core::ShadowDBError& error) {
            EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
        }
    }
}

TEST_F(ShadowDBToolsTest, ValuesAndResultsAreBounded) {
    ShadowDBTools tools(path);
    EXPECT_THROW(tools.query("SELECT printf('%.*c', 999999999, 'x') FROM messages", 5),
                 core::ShadowDBError);
    QueryTable cut = tools.query("SELECT printf('%.*c', 5000, 'x'), guid FROM messages", 2);
    ASSERT_EQ(cut.rows.size(), 2u);
    EXPECT_EQ(cut.rows[0][0].get<std::string>().size(), ShadowDBTools::kCellBytes);
    EXPECT_EQ(cut.cut, "2 values were cut to their first 4 KiB.");
    EXPECT_EQ(tools.query("SELECT guid FROM messages", 0).cut, "");
}

TEST_F(ShadowDBToolsTest, SearchRanksAndToleratesBadSyntax) {
    ShadowDBTools tools(path);
    auto hits = tools.search("\"hike\" OR \"hiking\" OR \"trailhead\"", 10);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].guid, "g-hike-1"); // matches two of the words
    EXPECT_EQ(hits[0].chatName, "Trail crew");
    EXPECT_LE(hits[0].rank, hits[1].rank);
    EXPECT_EQ(tools.search("\"alice\"", 10).at(0).guid, "g-dentist"); // found by sender
    EXPECT_FALSE(tools.search("\"dentist\"", 10).at(0).chatName.has_value());
    // What FTS5 cannot read is searched as its words.
    EXPECT_EQ(tools.search("dinner?", 10).size(), tools.search("dinner", 10).size());
    EXPECT_TRUE(tools.search("\"unbalanced", 10).empty());
    EXPECT_TRUE(tools.search("", 10).empty());
}

TEST_F(ShadowDBToolsTest, DescribesTables) {
    ShadowDBTools tools(path);
    auto tables = tools.listTables();
    EXPECT_NE(std::find(tables.begin(), tables.end(), "messages"), tables.end());
    EXPECT_NE(std::find(tables.begin(), tables.end(), "messages_fts"), tables.end());
    auto columns = tools.describeTable(" messages ");
    ASSERT_FALSE(columns.empty());
    EXPECT_EQ(columns[1].name, "guid");
    EXPECT_EQ(columns[1].type, "TEXT");
    EXPECT_TRUE(columns[1].notNull);
    EXPECT_TRUE(tools.describeTable("no_such_table").empty());
    EXPECT_THROW(tools.describeTable("messages); DROP TABLE messages"), core::ShadowDBError);
}

TEST(ShadowDBToolsOpen, MissingFileIsNotCreated) {
    TempDir dir;
    try {
        ShadowDBTools tools(dir.file("absent.db"));
        ADD_FAILURE() << "opened a missing file";
    } catch (const core::ShadowDBError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Failed to open database: ", 0), 0u)
            << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.db")));
}

} // namespace
} // namespace orlune::helper

namespace orlune::helper {
namespace {

// The search tool with filters, on a store whose people are in the address
// books: names in the hits, and only the matching messages.
TEST(ShadowDBToolsFilters, SearchesWithinSenderChatAndTimeAndNamesTheHits) {
    TempDir dir;
    orlune::testing::syncPeopleShadow(dir);
    orlune::testing::ScopedEnv zone("TZ", std::string("UTC"));

    ShadowDBTools tools(dir.file("shadow.db"));
    core::SearchFilters fromJess;
    fromJess.from = "jessie";
    auto hits = tools.search("flight", 10, fromJess);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].guid, "m3");
    EXPECT_EQ(hits[0].senderName, "Jess Day");
    EXPECT_EQ(hits[0].chatTitle, "Alex, Jess and 3 others");
    EXPECT_EQ(describeMessage(hits[0]),
              "Jess Day in Alex, Jess and 3 others, Fri 5 Dec 2025, 18:00: \"the flight number "
              "is BA117\"");

    core::SearchFilters inSkiTripSince;
    inSkiTripSince.chat = "ski trip";
    inSkiTripSince.since = "2025-12-07";
    hits = tools.search("", 10, inSkiTripSince);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].guid, "m6");

    core::SearchFilters unreadable;
    unreadable.until = "whenever";
    EXPECT_THROW(tools.search("flight", 10, unreadable), core::ShadowDBError);
}

TEST(ShadowDBToolsVoice, ATranscriptIsShownAsAVoiceMessage) {
    TempDir dir;
    samplestore::SampleStoreOptions options;
    options.messageCount = 200;
    options.content = samplestore::RealStoreContent::everything();
    samplestore::buildSampleStore(dir.file("chat.db"), options);
    core::ShadowSync(dir.file("chat.db"), dir.file("shadow.db")).performSync();

    ShadowDBTools tools(dir.file("shadow.db"));
    const auto hits = tools.search("seat window", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].text,
              "[voice message] Running ten minutes late, save me a seat by the window");
    EXPECT_NE(describeMessage(hits[0]).find(": \"[voice message] Running ten"), std::string::npos)
        << describeMessage(hits[0]);
}

} // namespace
} // namespace orlune::helper
