#include "helper/SqliteShadowTools.hpp"

#include "helper/HelperRequest.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>

namespace orlune::helper {

namespace {

constexpr const char* kSearchSql = "SELECT\n"
                                   "    m.guid,\n"
                                   "    m.chat_id,\n"
                                   "    m.chat_name,\n"
                                   "    m.sender,\n"
                                   "    m.text,\n"
                                   "    m.timestamp,\n"
                                   "    m.is_from_me,\n"
                                   "    m.is_group,\n"
                                   "    bm25(messages_fts) as rank\n"
                                   "FROM messages_fts\n"
                                   "JOIN messages m ON messages_fts.rowid = m.rowid\n"
                                   "WHERE messages_fts MATCH ?\n"
                                   "ORDER BY rank\n"
                                   "LIMIT ?";

constexpr const char* kListTablesSql = "SELECT name\n"
                                       "FROM sqlite_master\n"
                                       "WHERE type IN ('table', 'view')\n"
                                       "  AND name NOT LIKE 'sqlite_%'\n"
                                       "ORDER BY name";

// PRAGMAs that only read the schema or the file's facts; any other PRAGMA is
// refused. The second list is allowed only without an argument, since with
// one they would set a value.
const std::set<std::string> kSchemaPragmas = {"table_info",   "table_xinfo",     "index_list",
                                              "index_info",   "index_xinfo",     "foreign_key_list",
                                              "table_list"};
const std::set<std::string> kQueryOnlyPragmas = {"schema_version", "user_version", "page_count",
                                                 "page_size",      "encoding",     "data_version",
                                                 "freelist_count"};

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

SqliteShadowTools::SqliteShadowTools(const std::string& path) {
    int rc = db_.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
        std::string message = db_.errorMessage();
        db_.close();
        throw ShadowToolError("Failed to open database: " + message);
    }
    std::string error;
    if (core::sqlite::exec(db_.get(), "PRAGMA query_only = 1", error) != SQLITE_OK) {
        throw ShadowToolError("Failed to open database: " + error);
    }
    sqlite3_set_authorizer(db_.get(), &SqliteShadowTools::authorize, this);
    sqlite3_progress_handler(db_.get(), 1000, &SqliteShadowTools::progress, this);
}

void SqliteShadowTools::startStatementClock() {
    interrupted_ = false;
    statementDeadline_ = std::min(deadline_, Clock::now() + kStatementBudget);
}

int SqliteShadowTools::progress(void* self) {
    auto* tools = static_cast<SqliteShadowTools*>(self);
    if (Clock::now() >= tools->statementDeadline_) {
        tools->interrupted_ = true;
        return 1;
    }
    return 0;
}

int SqliteShadowTools::authorize(void*, int action, const char* a, const char* b, const char*,
                                 const char*) {
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
        return SQLITE_DENY;
    case SQLITE_PRAGMA: {
        std::string name = lowerAscii(a == nullptr ? "" : a);
        if (kSchemaPragmas.count(name) != 0) {
            return SQLITE_OK;
        }
        if (kQueryOnlyPragmas.count(name) != 0 && b == nullptr) {
            return SQLITE_OK;
        }
        return SQLITE_DENY;
    }
    case SQLITE_FUNCTION:
        // load_extension is off by default; refuse it by name all the same.
        return (b != nullptr && lowerAscii(b) == "load_extension") ? SQLITE_DENY : SQLITE_OK;
    default:
        return SQLITE_OK;
    }
}

QueryTable SqliteShadowTools::query(const std::string& sql, int limit) {
    std::string text = trimmed(sql);
    if (text.empty()) {
        throw ShadowToolError("SQL query must not be empty");
    }
    core::sqlite::Statement statement;
    size_t tail = 0;
    if (statement.prepare(db_.get(), text, &tail) != SQLITE_OK) {
        throw ShadowToolError("Statement preparation failed: " + db_.errorMessage());
    }
    if (!statement) {
        // Only a comment or semicolons: nothing to run.
        throw ShadowToolError("SQL query must not be empty");
    }
    if (sqlite3_stmt_readonly(statement.get()) == 0) {
        throw ShadowToolError("Only read-only SQL statements are allowed");
    }
    std::string rest = text.substr(text.size() - tail);
    rest.erase(std::remove(rest.begin(), rest.end(), ';'), rest.end());
    if (!trimmed(rest).empty()) {
        throw ShadowToolError("Only a single SQL statement is allowed");
    }

    QueryTable table;
    std::map<std::string, int> seen;
    for (int i = 0; i < statement.columnCount(); ++i) {
        std::string name = statement.columnName(i);
        if (name.empty()) {
            name = "column_" + std::to_string(i);
        }
        int count = ++seen[name];
        table.columns.push_back(count == 1 ? name : name + "_" + std::to_string(count));
    }

    const size_t rowLimit = limit > 0 ? static_cast<size_t>(limit) : 100;
    startStatementClock();
    while (table.rows.size() < rowLimit) {
        int rc = statement.step();
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc != SQLITE_ROW) {
            if (interrupted_) {
                throw ShadowToolError("Query failed: the statement ran too long and was stopped");
            }
            throw ShadowToolError("Query failed: " + db_.errorMessage());
        }
        std::vector<nlohmann::json> row;
        for (int i = 0; i < statement.columnCount(); ++i) {
            switch (statement.columnType(i)) {
            case SQLITE_INTEGER:
                row.emplace_back(statement.columnInt64(i));
                break;
            case SQLITE_FLOAT:
                row.emplace_back(statement.columnDouble(i));
                break;
            case SQLITE_TEXT:
                row.emplace_back(statement.columnText(i));
                break;
            case SQLITE_BLOB:
                row.emplace_back("<blob of " + std::to_string(sqlite3_column_bytes(statement.get(), i)) +
                                 " bytes>");
                break;
            default:
                row.emplace_back(nullptr);
                break;
            }
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

std::vector<MessageHit> SqliteShadowTools::search(const std::string& match, int limit) {
    core::sqlite::Statement statement;
    if (statement.prepare(db_.get(), kSearchSql) != SQLITE_OK) {
        throw ShadowToolError("Statement preparation failed: " + db_.errorMessage());
    }
    statement.bindText(1, std::string_view(match.c_str()));
    statement.bindInt(2, limit);
    std::vector<MessageHit> hits;
    startStatementClock();
    // A MATCH expression FTS5 rejects fails at the first step: no hits.
    while (statement.step() == SQLITE_ROW) {
        if (statement.isNull(0) || statement.isNull(1) || statement.isNull(3) ||
            statement.isNull(4)) {
            continue;
        }
        MessageHit hit;
        hit.guid = statement.columnText(0);
        hit.chatId = statement.columnText(1);
        hit.chatName = statement.columnOptionalText(2);
        hit.sender = statement.columnText(3);
        hit.text = statement.columnText(4);
        hit.timestamp = statement.columnInt64(5);
        hit.isFromMe = statement.columnInt64(6) != 0;
        hit.rank = statement.columnDouble(8);
        hits.push_back(std::move(hit));
    }
    return hits;
}

std::vector<std::string> SqliteShadowTools::listTables() {
    core::sqlite::Statement statement;
    if (statement.prepare(db_.get(), kListTablesSql) != SQLITE_OK) {
        throw ShadowToolError("Statement preparation failed: " + db_.errorMessage());
    }
    std::vector<std::string> names;
    while (statement.step() == SQLITE_ROW) {
        if (!statement.isNull(0)) {
            names.push_back(statement.columnText(0));
        }
    }
    return names;
}

std::vector<TableColumn> SqliteShadowTools::describeTable(const std::string& table) {
    static const std::regex kIdentifier("^[A-Za-z_][A-Za-z0-9_]*$");
    std::string name = trimmed(table);
    if (!std::regex_match(name, kIdentifier)) {
        throw ShadowToolError("Query failed: Invalid table name: " + table);
    }
    core::sqlite::Statement statement;
    if (statement.prepare(db_.get(), "PRAGMA table_info(" + name + ")") != SQLITE_OK) {
        throw ShadowToolError("Statement preparation failed: " + db_.errorMessage());
    }
    std::vector<TableColumn> columns;
    while (statement.step() == SQLITE_ROW) {
        columns.push_back({statement.columnText(1), statement.columnText(2),
                           statement.columnInt64(3) != 0});
    }
    return columns;
}

} // namespace orlune::helper
