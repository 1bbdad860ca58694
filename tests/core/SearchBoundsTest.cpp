// The size and time bounds of full-text search: MATCH expressions measured
// and refused before FTS5 starts on them, a deadline, and results cut to
// their sizes.

#include "shadow/MatchExpression.hpp"
#include "shadow/ShadowDB.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <map>

namespace orlune::core {
namespace {

using testing::TempDir;

std::string repeated(const std::string& item, const std::string& separator, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : separator) + item;
    }
    return text;
}

TEST(MatchExpressionTest, CountsTermsAndPrefixTermsAsFTS5ReadsThem) {
    using Size = MatchExpression::Size;
    const struct {
        std::string expression;
        Size size;
    } cases[] = {
        {"pizza", {1, 0}},
        {"pizza OR pasta NOT olives AND wine", {4, 0}},
        {"\"dinner tomorrow\"", {2, 0}},
        {"\"say \"\"hi\"\" now\"", {3, 0}},
        {"p* AND q*", {2, 2}},
        {"\"new yor\" *", {2, 1}},
        {"NEAR(a b c, 10)", {3, 0}},
        {"NEAR (a* b, 1000000)", {2, 1}},
        {"near NEAR", {2, 0}},
        {"sender : alice", {1, 0}},
        {"{text sender}: pizza", {1, 0}},
        {"\"chat_name\": book", {1, 0}},
        {"^start + next", {2, 0}},
        {"snake_case can't", {4, 0}},
        {"café crème 🍕", {3, 0}},
        {"", {0, 0}},
        {"AND OR NOT", {0, 0}},
        {std::string("a\0b c", 5), {1, 0}},
        {"\"unterminated phrase words", {3, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchExpression::measure(c.expression), c.size) << c.expression;
    }
}

TEST(MatchExpressionTest, FileNamesAreQuotedAndEverythingElseLeftAlone) {
    const struct {
        std::string expression;
        std::string quoted;
    } cases[] = {
        {"lease.pdf", "\"lease.pdf\""},
        {"signed lease.pdf OR IMG_0042.HEIC", "signed \"lease.pdf\" OR \"IMG_0042.HEIC\""},
        {"report.v2.docx*", "\"report.v2.docx\"*"},
        {"text:lease.pdf", "text:\"lease.pdf\""},
        {"café.jpg", "\"café.jpg\""},
        // Dots that are not between two word characters stay (FTS5 rejects
        // them as before), and quoted text is never touched.
        {"lovely.", "lovely."},
        {".pdf", ".pdf"},
        {"a..b", "a..b"},
        {"\"lease.pdf\" x.y", "\"lease.pdf\" \"x.y\""},
        {"\"say \"\"a.b\"\" now\"", "\"say \"\"a.b\"\" now\""},
        {"\"unterminated a.b", "\"unterminated a.b"},
        {"pizza", "pizza"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchExpression::withFileNamesQuoted(c.expression), c.quoted) << c.expression;
    }
}

TEST(MatchExpressionTest, AnExpressionClosesEveryGroupOrNot) {
    const struct {
        std::string expression;
        bool closes;
    } cases[] = {
        {"dinner", true},
        {"(dinner OR lunch) tomorrow", true},
        {"\"say \"\"hi\"\" (now\"", true},
        {"\"a\" \"b\"*", true},
        {"", true},
        {"(dinner", false},
        {"dinner)", false},
        // Wrapped in parentheses, this one would become valid.
        {"dinner) OR (lunch", false},
        {"\"unterminated", false},
        {"\"", false},
        {"\"ends in an escape\"\"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchExpression::closesEveryGroup(c.expression), c.closes) << c.expression;
    }
}

class SearchBoundsTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<ShadowDB>(dir.file("shadow.db"));
        db->createSchemaIfNeeded();
        std::vector<ShadowMessage> messages;
        for (int i = 0; i < 40; ++i) {
            messages.emplace_back(std::to_string(i), "chat", std::nullopt, "+15550001",
                                  "pizza night number " + std::to_string(i) + " with café",
                                  1000 + i, false, false, false, std::vector<std::string>{}, i + 1);
        }
        db->insertBatch(messages);
    }

    std::string failure(const std::string& query) {
        try {
            db->search(query, 10, bounds);
        } catch (const ShadowDB::Error& error) {
            EXPECT_EQ(error.kind(), ShadowDB::Error::Kind::queryFailed);
            return error.what();
        }
        return "(accepted)";
    }

    TempDir dir;
    std::unique_ptr<ShadowDB> db;
    QueryBounds bounds;
};

TEST_F(SearchBoundsTest, ExpressionsBeyondTheBoundsAreRefusedBeforeTheyRun) {
    const struct {
        std::string query;
        std::string error;
    } cases[] = {
        {repeated("pizza", " OR ", 111112),
         "Query failed: The search expression is 1000004 bytes long; at most 4096 bytes are "
         "allowed"},
        {"NEAR(" + repeated("a*", " ", 1300) + ", 1000000)",
         "Query failed: The search expression has 1300 terms; at most 64 are allowed"},
        {repeated("p*", " AND ", 17),
         "Query failed: The search expression has 17 prefix terms (word*); at most 16 are "
         "allowed"},
        {repeated("pizza", " OR ", 65),
         "Query failed: The search expression has 65 terms; at most 64 are allowed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.query), c.error) << c.query.substr(0, 40);
    }
    // At the bounds it runs.
    EXPECT_EQ(db->search(repeated("pizza", " OR ", 64), 5, bounds).results.size(), 5u);
    EXPECT_EQ(db->search(repeated("p*", " AND ", 16), 5, bounds).results.size(), 5u);
    // The plain search applies the same defaults.
    EXPECT_THROW(db->search(repeated("p*", " AND ", 5000), 5), ShadowDB::Error);
}

TEST_F(SearchBoundsTest, ASearchPastItsTimeLimitIsStoppedWithAnError) {
    bounds.timeLimit = std::chrono::milliseconds(0);
    EXPECT_EQ(failure("pizza"), "Query failed: The search took longer than 0 s and was stopped");
    bounds.timeLimit = std::chrono::milliseconds(2500);
    EXPECT_EQ(ShadowDB::searchTimeLimitMessage(bounds),
              "The search took longer than 2.5 s and was stopped");
    // The connection is free of the deadline afterwards.
    EXPECT_EQ(db->search("pizza", 100).size(), 40u);
}

TEST_F(SearchBoundsTest, TextsAndResultsAreCutToTheirSizes) {
    bounds.maxCellBytes = 20;
    auto outcome = db->search("number", 3, bounds);
    ASSERT_EQ(outcome.results.size(), 3u);
    EXPECT_EQ(outcome.results[0].text.size(), 20u);
    EXPECT_EQ(outcome.results[0].text.substr(0, 13), "pizza night n");
    EXPECT_EQ(outcome.cutTexts, 3u);
    EXPECT_FALSE(outcome.stoppedAtSizeLimit);

    bounds.maxCellBytes = 1000;
    bounds.maxResultBytes = 1000;
    outcome = db->search("number", 40, bounds);
    EXPECT_TRUE(outcome.stoppedAtSizeLimit);
    EXPECT_GT(outcome.results.size(), 1u);
    EXPECT_LT(outcome.results.size(), 40u);
    // Every hit kept is whole; none was longer than a cell, so none is cut.
    EXPECT_EQ(outcome.cutTexts, 0u);
    std::map<std::string, std::string> wholeTexts;
    for (const auto& hit : db->search("number", 40)) {
        wholeTexts[hit.guid] = hit.text;
    }
    for (const auto& hit : outcome.results) {
        EXPECT_EQ(hit.text, wholeTexts.at(hit.guid));
    }
}

TEST_F(SearchBoundsTest, ARejectedExpressionStillFindsNothingWithoutAnError) {
    for (const char* query : {"what's up?", "\"unbalanced", "PLAT-2291."}) {
        EXPECT_TRUE(db->search(query, 10, bounds).results.empty()) << query;
    }
}

} // namespace
} // namespace orlune::core
