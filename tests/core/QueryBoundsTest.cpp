// The time and size bounds of the read-only query surface: values SQLite
// would build too large, cells and results cut while rows are read, and
// printf's %c that no progress handler interrupts.

#include "sql/ReadOnlyQuery.hpp"
#include "sql/ResultBudget.hpp"
#include "sql/SQLite.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using testing::TempDir;

class QueryBoundsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(db.open(dir.file("shadow.db"),
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX),
                  SQLITE_OK);
        exec("CREATE TABLE messages (rowid INTEGER PRIMARY KEY, text TEXT NOT NULL)");
        exec("INSERT INTO messages (text) VALUES ('one'), ('two'), ('three'), ('four')");
        bounds.maxValueBytes = 1000;
        bounds.maxCellBytes = 10;
        bounds.maxResultBytes = 1 << 20;
    }

    void exec(const char* sql) { sqlite::exec(db.get(), sql); }

    ShadowQueryResult run(const std::string& sql, int limit = 0) {
        return ReadOnlyQuery::execute(db.get(), sql, limit, bounds);
    }

    std::string failure(const std::string& sql) {
        try {
            run(sql);
        } catch (const ReadOnlyQuery::Error& error) {
            EXPECT_EQ(error.kind(), ReadOnlyQuery::Error::Kind::queryFailed);
            return error.what();
        }
        return "(accepted)";
    }

    TempDir dir;
    sqlite::Connection db;
    QueryBounds bounds;
};

TEST_F(QueryBoundsTest, ValuesBeyondTheValueBoundFailAtOnce) {
    const std::string tooBig = "Query failed: A value in the result would be larger than 1000 "
                               "bytes, the most one value may hold here (string or blob too big)";
    for (const char* sql : {
             "SELECT printf('%.*c', 999999999, 'x') FROM messages",
             "SELECT printf('%!.2000c', 'x')",
             "SELECT format('%s %.*c', 'a', 1001, 'x')",
             "SELECT zeroblob(999999999)",
             "SELECT randomblob(5000)",
             "SELECT replace(printf('%.*c', 600, 'x'), 'x', 'yy')",
             "SELECT group_concat(printf('%.*c', 300, 'x')) FROM messages",
             "SELECT printf('%.*c', 600, 'x') || printf('%.*c', 600, 'x')",
         }) {
        EXPECT_EQ(failure(sql), tooBig) << sql;
    }
    // Within the bound they run.
    EXPECT_EQ(run("SELECT length(printf('%.*c', 900, 'x')) AS n").rows.at(0).at("n"),
              SQLiteValue::integer(900));
}

TEST_F(QueryBoundsTest, ABoundedPrintfGivesWhatSQLitesOwnGives) {
    const char* sql = "SELECT printf('%5.2f|%-4s|%c|%d|%%|%.3c|%!.2c|%,d|%x|%q|%w', 3.14159, "
                      "'ab', 'xyz', 42, 'q', 'é', 1234567, 255, 'it''s', 'a\"b') AS a, "
                      "format('%s-%*d-%.*s', 'n', 4, 7, 2, 'abcdef') AS b, printf() AS c, "
                      "printf(NULL) AS d, printf('%s') AS e, printf('%.*c', -3, 'z') AS f";
    // The same statement on a connection that never ran through the surface.
    sqlite::Connection plain;
    ASSERT_EQ(plain.open(":memory:", SQLITE_OPEN_READWRITE), SQLITE_OK);
    sqlite::Statement expected = plain.prepare(sql);
    ASSERT_TRUE(expected.step());

    bounds.maxCellBytes = 1000;
    const auto row = run(sql).rows.at(0);
    for (const char* column : {"a", "b", "c", "d", "e", "f"}) {
        const int index = static_cast<int>(std::string("abcdef").find(column[0]));
        if (expected.isNull(index)) {
            EXPECT_TRUE(row.at(column).isNull()) << column;
        } else {
            EXPECT_EQ(row.at(column), SQLiteValue::text(expected.columnText(index))) << column;
        }
    }
    EXPECT_EQ(row.at("a").asText(), " 3.14|ab  |x|42|%|qqq|éé|1,234,567|ff|it''s|a\"\"b");
}

TEST_F(QueryBoundsTest, CellsAreCutAsTheyAreRead) {
    const struct {
        const char* name;
        const char* sql;
        SQLiteValue expected;
        size_t cutCells;
    } cases[] = {
        {"text within", "SELECT 'exactly 10' AS v", SQLiteValue::text("exactly 10"), 0},
        {"long text", "SELECT printf('%.*c', 500, 'x') AS v", SQLiteValue::text("xxxxxxxxxx"), 1},
        // Five two-byte characters fill ten bytes; six are cut after the fifth.
        {"at a character boundary", "SELECT 'éééééé' AS v", SQLiteValue::text("ééééé"), 1},
        {"inside a character", "SELECT 'aéééééé' AS v", SQLiteValue::text("aéééé"), 1},
        // Each ill-formed byte becomes a three-byte U+FFFD, cut again to fit.
        {"ill-formed bytes", "SELECT CAST(x'ffffffffff' AS TEXT) AS v",
         SQLiteValue::text("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"), 1},
        {"text up to its NUL", "SELECT 'ab' || char(0) || 'cdefghijklmn' AS v",
         SQLiteValue::text("ab"), 0},
        {"long blob", "SELECT zeroblob(64) AS v", SQLiteValue::blob(std::string(10, '\0')), 1},
        {"numbers are never cut", "SELECT 1234567890123 AS v", SQLiteValue::integer(1234567890123),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = run(c.sql);
        EXPECT_EQ(result.rows.at(0).at("v"), c.expected);
        EXPECT_EQ(result.cutCells, c.cutCells);
        EXPECT_FALSE(result.stoppedAtSizeLimit);
    }
}

TEST_F(QueryBoundsTest, ReadingStopsWhenTheResultIsFull) {
    const std::string many = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                             "WHERE x < 1000) SELECT x, printf('%.*c', 10, 'y') AS t FROM c";
    // Each row costs its two cells' payloads, names and overhead.
    const size_t perRow = 2 * ResultBudget::kCellOverhead + 1 + 1 + 10;
    bounds.maxResultBytes = perRow * 5 + perRow / 2;
    const auto result = run(many, 100);
    // The result runs out inside the sixth row: it ends with the fifth, whole,
    // and no value counts as cut to the cell size (none is longer).
    EXPECT_EQ(result.rows.size(), 5u);
    EXPECT_TRUE(result.stoppedAtSizeLimit);
    EXPECT_EQ(result.rows.back().at("x"), SQLiteValue::integer(5));
    EXPECT_EQ(result.rows.back().at("t"), SQLiteValue::text("yyyyyyyyyy"));
    EXPECT_EQ(result.cutCells, 0u);
    EXPECT_EQ(bounds.describeCut(result.cutCells, result.stoppedAtSizeLimit, result.rows.size()),
              "The result reached its size limit of " + std::to_string(bounds.maxResultBytes) +
                  " bytes, so reading stopped after 5 rows.");

    // The row limit still ends a result that fits.
    bounds.maxResultBytes = 1 << 20;
    const auto limited = run(many, 3);
    EXPECT_EQ(limited.rows.size(), 3u);
    EXPECT_FALSE(limited.stoppedAtSizeLimit);
}

TEST_F(QueryBoundsTest, TheConnectionGetsItsLimitsBack) {
    const int before = sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, -1);
    EXPECT_NE(failure("SELECT zeroblob(5000)"), "(accepted)");
    EXPECT_EQ(sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, -1), before);
    // Outside the surface, printf and zeroblob are as large as SQLite allows.
    sqlite::Statement statement =
        db.prepare("SELECT length(printf('%.*c', 5000, 'x')), length(zeroblob(5000))");
    ASSERT_TRUE(statement.step());
    EXPECT_EQ(statement.columnInt64(0), 5000);
    EXPECT_EQ(statement.columnInt64(1), 5000);
}

TEST_F(QueryBoundsTest, DescribingTheCut) {
    bounds.maxCellBytes = 1024 * 1024;
    bounds.maxResultBytes = 64 * 1024 * 1024;
    EXPECT_EQ(bounds.describeCut(0, false, 3), "");
    EXPECT_EQ(bounds.describeCut(1, false, 3), "1 value was cut to its first 1 MiB.");
    EXPECT_EQ(bounds.describeCut(0, true, 1),
              "The result reached its size limit of 64 MiB, so reading stopped after 1 row.");
    EXPECT_EQ(bounds.describeCut(2, true, 40),
              "2 values were cut to their first 1 MiB; the result reached its size limit of "
              "64 MiB, so reading stopped after 40 rows.");
}

} // namespace
} // namespace orlune::core
