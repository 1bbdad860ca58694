#include "sql/SQLite.hpp"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace orlune::core::sqlite {
namespace {

// A value SQLite refuses to bind is an error, never a NULL in its place.
TEST(SQLiteBind, ARefusedValueThrowsAndNamesTheParameter) {
    Connection db;
    ASSERT_EQ(db.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    // Texts longer than 8 bytes are too big on this connection.
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, 8);
    struct Case {
        const char* name;
        std::function<void(Statement&)> bind;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"text past the last parameter", [](Statement& s) { s.bindText(3, "x"); }, SQLITE_RANGE,
         "Could not bind parameter 3: column index out of range"},
        {"integer at 0", [](Statement& s) { s.bindInt64(0, 1); }, SQLITE_RANGE,
         "Could not bind parameter 0: column index out of range"},
        {"int past the end", [](Statement& s) { s.bindInt(9, 1); }, SQLITE_RANGE,
         "Could not bind parameter 9: column index out of range"},
        {"null past the end", [](Statement& s) { s.bindNull(-1); }, SQLITE_RANGE,
         "Could not bind parameter -1: column index out of range"},
        {"absent text past the end", [](Statement& s) { s.bindOptionalText(5, std::nullopt); },
         SQLITE_RANGE, "Could not bind parameter 5: column index out of range"},
        {"text over the length limit", [](Statement& s) { s.bindText(1, std::string(9, 'x')); },
         SQLITE_TOOBIG, "Could not bind parameter 1: string or blob too big"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Statement statement = db.prepare("SELECT ?, ?");
        try {
            c.bind(statement);
            FAIL() << "expected a bind error";
        } catch (const Error& error) {
            EXPECT_EQ(error.stage(), Error::Stage::bind);
            EXPECT_EQ(error.primaryCode(), c.code);
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(SQLiteBind, AcceptedValuesAreWhatTheStatementReads) {
    Connection db;
    ASSERT_EQ(db.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    Statement statement = db.prepare("SELECT ?, ?, ?, ?, typeof(?5)");
    statement.bindText(1, "caf\xC3\xA9");
    statement.bindInt64(2, INT64_C(9007199254740993));
    statement.bindInt(3, -7);
    statement.bindOptionalText(4, std::nullopt);
    statement.bindOptionalText(5, std::string());
    ASSERT_TRUE(statement.step());
    EXPECT_EQ(statement.columnText(0), "caf\xC3\xA9");
    EXPECT_EQ(statement.columnInt64(1), INT64_C(9007199254740993));
    EXPECT_EQ(statement.columnInt(2), -7);
    EXPECT_TRUE(statement.isNull(3));
    EXPECT_EQ(statement.columnText(4), "text") << "an empty text is text, not NULL";
}

// A statement already running refuses new values (SQLITE_MISUSE) rather
// than changing what the rows already read were selected by.
TEST(SQLiteBind, BindingARunningStatementThrows) {
    Connection db;
    ASSERT_EQ(db.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    Statement statement = db.prepare("WITH RECURSIVE n(v) AS (SELECT 1 UNION ALL SELECT v + 1 FROM "
                                     "n WHERE v < ?) SELECT v FROM n");
    statement.bindInt(1, 3);
    ASSERT_TRUE(statement.step());
    try {
        statement.bindInt(1, 5);
        FAIL() << "expected a bind error";
    } catch (const Error& error) {
        EXPECT_EQ(error.primaryCode(), SQLITE_MISUSE);
    }
    statement.reset();
    statement.bindInt(1, 1);
    ASSERT_TRUE(statement.step());
    EXPECT_FALSE(statement.step());
}

} // namespace
} // namespace orlune::core::sqlite
