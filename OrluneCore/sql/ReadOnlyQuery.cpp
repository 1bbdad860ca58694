#include "sql/ReadOnlyQuery.hpp"

#include "base/Utf8.hpp"
#include "sql/ReadOnlyGuard.hpp"
#include "sql/ResultBudget.hpp"
#include "sql/SQLite.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace orlune::core {

namespace {

constexpr std::string_view kListTablesSql = "SELECT name\n"
                                            "FROM sqlite_master\n"
                                            "WHERE type IN ('table', 'view')\n"
                                            "  AND name NOT LIKE 'sqlite_%'\n"
                                            "ORDER BY name";
constexpr std::string_view kSchemaVersionSql = "PRAGMA schema_version";

using Kind = ReadOnlyQuery::Error::Kind;

// The error for a failed step on `db`, naming the database file when it is
// damaged.
ReadOnlyQuery::Error stepFailure(sqlite3* db, const sqlite::Error& error) {
    const char* file = sqlite3_db_filename(db, "main");
    return ShadowDBError::fromSQLite(error, file == nullptr ? std::string() : std::string(file));
}

void requireOpen(sqlite3* db) {
    if (db == nullptr) {
        throw ReadOnlyQuery::Error(Kind::prepareFailed, "Database is closed");
    }
}

sqlite::Statement prepareOrThrow(sqlite3* db, std::string_view sql) {
    requireOpen(db);
    sqlite::Statement statement;
    try {
        statement.prepare(db, sql);
    } catch (const sqlite::Error& error) {
        throw ReadOnlyQuery::Error(Kind::prepareFailed, error.what());
    }
    return statement;
}

bool isTrimmedAway(UChar32 c, bool semicolons) {
    return u_isUWhiteSpace(c) || (semicolons && c == ';');
}

// Trims code points for which isTrimmedAway holds from both ends. Ill-formed
// bytes are never trimmed.
std::string trim(std::string_view text, bool semicolons) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isTrimmedAway(c, semicolons)) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isTrimmedAway(c, semicolons)) {
            break;
        }
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

std::vector<std::string> columnNames(sqlite3_stmt* statement) {
    int count = sqlite3_column_count(statement);
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    std::map<std::string, int> seen;
    for (int i = 0; i < count; ++i) {
        const char* raw = sqlite3_column_name(statement, i);
        if (raw == nullptr || *raw == '\0') {
            names.push_back("column_" + std::to_string(i));
            continue;
        }
        std::string name(raw);
        int occurrence = ++seen[name];
        names.push_back(occurrence == 1 ? name : name + "_" + std::to_string(occurrence));
    }
    return names;
}

} // namespace

std::string ReadOnlyQuery::trimWhitespace(std::string_view text) {
    return trim(text, false);
}

std::string ReadOnlyQuery::valueTooLargeMessage(int64_t maxValueBytes) {
    return "A value in the result would be larger than " + std::to_string(maxValueBytes) +
           " bytes, the most one value may hold here (string or blob too big)";
}

ShadowQueryResult ReadOnlyQuery::execute(sqlite3* db, std::string_view sql, int limit,
                                         std::chrono::milliseconds timeLimit) {
    QueryBounds bounds;
    bounds.timeLimit = timeLimit;
    return execute(db, sql, limit, bounds);
}

ShadowQueryResult ReadOnlyQuery::execute(sqlite3* db, std::string_view sql, int limit,
                                         const QueryBounds& bounds) {
    std::string trimmed = trim(sql, false);
    if (trimmed.empty()) {
        throw Error(Kind::queryFailed, "SQL query must not be empty");
    }
    requireOpen(db);
    // SQLite reads the text up to its first NUL; so does the rest check.
    trimmed.resize(std::min(trimmed.size(), trimmed.find('\0')));

    ReadOnlyGuard guard(db, bounds.timeLimit, bounds.maxValueBytes);
    sqlite::Statement statement;
    size_t unread = 0;
    try {
        statement.prepare(db, trimmed, &unread);
    } catch (const sqlite::Error& error) {
        if (guard.refusal()) {
            throw Error(Kind::queryFailed, *guard.refusal());
        }
        throw Error(Kind::prepareFailed, error.what());
    }
    // Only blank text or comments: nothing was prepared.
    if (!statement) {
        throw Error(Kind::queryFailed, "SQL query must not be empty");
    }
    if (auto refusal = ReadOnlyGuard::refusalForStatementText(trimmed)) {
        throw Error(Kind::queryFailed, *refusal);
    }
    if (sqlite3_stmt_readonly(statement.get()) == 0) {
        throw Error(Kind::queryFailed, "Only read-only SQL statements are allowed");
    }
    std::string rest = trim(std::string_view(trimmed).substr(trimmed.size() - unread), true);
    if (!rest.empty()) {
        throw Error(Kind::queryFailed, "Only a single SQL statement is allowed");
    }

    ShadowQueryResult result;
    result.columns = columnNames(statement.get());
    size_t rowLimit = static_cast<size_t>(limit > 0 ? limit : kDefaultRowLimit);
    result.rows.reserve(std::min<size_t>(rowLimit, 50));
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    while (true) {
        bool hasRow = false;
        try {
            hasRow = statement.step();
        } catch (const sqlite::Error& error) {
            if (guard.timedOut()) {
                throw Error(Kind::queryFailed, guard.timeLimitMessage());
            }
            if (guard.refusal()) {
                throw Error(Kind::queryFailed, *guard.refusal());
            }
            if (error.primaryCode() == SQLITE_TOOBIG) {
                throw Error(Kind::queryFailed,
                            valueTooLargeMessage(guard.limits().maxValueBytes()));
            }
            throw stepFailure(db, error);
        }
        if (!hasRow) {
            return result;
        }
        std::map<std::string, SQLiteValue> row;
        for (size_t i = 0; i < result.columns.size(); ++i) {
            row.insert_or_assign(
                result.columns[i],
                budget.read(statement.get(), static_cast<int>(i), result.columns[i]));
        }
        if (budget.cutShort()) {
            // The result ran out inside this row: it ends before it.
            result.stoppedAtSizeLimit = true;
            return result;
        }
        result.rows.push_back(std::move(row));
        result.cutCells = budget.cutCells();
        // The deadline covers the reading of the rows too, which no progress
        // handler watches.
        if (guard.limits().expired()) {
            throw Error(Kind::queryFailed, guard.timeLimitMessage());
        }
        if (result.rows.size() >= rowLimit) {
            return result;
        }
        if (budget.exhausted()) {
            result.stoppedAtSizeLimit = true;
            return result;
        }
    }
}

std::vector<std::string> ReadOnlyQuery::listTables(sqlite3* db) {
    sqlite::Statement statement = prepareOrThrow(db, kListTablesSql);
    std::vector<std::string> names;
    try {
        while (statement.step()) {
            if (!statement.isNull(0)) {
                names.push_back(statement.columnText(0));
            }
        }
    } catch (const sqlite::Error& error) {
        throw stepFailure(db, error);
    }
    return names;
}

std::vector<ColumnInfo> ReadOnlyQuery::describeTable(sqlite3* db, std::string_view table) {
    std::string name = trim(table, false);
    static const std::regex identifier("^[A-Za-z_][A-Za-z0-9_]*$");
    if (!std::regex_match(name, identifier)) {
        throw Error(Kind::queryFailed, "Invalid table name: " + std::string(table));
    }
    sqlite::Statement statement = prepareOrThrow(db, "PRAGMA table_info(" + name + ")");
    std::vector<ColumnInfo> columns;
    try {
        while (statement.step()) {
            columns.push_back(ColumnInfo{statement.columnText(1), statement.columnText(2),
                                         statement.columnInt64(3) != 0});
        }
    } catch (const sqlite::Error& error) {
        throw stepFailure(db, error);
    }
    return columns;
}

int64_t ReadOnlyQuery::schemaVersion(sqlite3* db) {
    sqlite::Statement statement = prepareOrThrow(db, kSchemaVersionSql);
    try {
        return statement.step() ? statement.columnInt64(0) : 0;
    } catch (const sqlite::Error& error) {
        throw stepFailure(db, error);
    }
}

} // namespace orlune::core
