#include "sql/ReadOnlyGuard.hpp"

#include "base/BoundedPrintf.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace orlune::core {

namespace {

struct PragmaRule {
    std::string_view name;
    bool takesArgument; // a table or index name; without it, no argument is allowed
};

constexpr std::array<PragmaRule, 16> kAllowedPragmas = {{
    {"table_info", true},
    {"table_xinfo", true},
    {"table_list", true},
    {"index_list", true},
    {"index_info", true},
    {"index_xinfo", true},
    {"foreign_key_list", true},
    {"database_list", false},
    {"schema_version", false},
    {"user_version", false},
    {"page_count", false},
    {"page_size", false},
    {"freelist_count", false},
    {"compile_options", false},
    {"encoding", false},
    // FTS5 reads it on this connection while a statement on its tables runs.
    {"data_version", false},
}};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string allowedPragmaList() {
    std::string list;
    for (const auto& rule : kAllowedPragmas) {
        if (!list.empty()) {
            list += ", ";
        }
        list += rule.name;
    }
    return list;
}

} // namespace

ReadOnlyGuard::ReadOnlyGuard(sqlite3* db, std::chrono::milliseconds timeLimit,
                             int64_t maxValueBytes)
    : limits_(db, timeLimit, maxValueBytes), db_(db) {
    // The limits hold the connection's mutex, so another thread's statements
    // on the same connection are not judged by this authorizer.
    BoundedPrintf::install(db_);
    sqlite3_set_authorizer(db_, &ReadOnlyGuard::authorize, this);
}

ReadOnlyGuard::~ReadOnlyGuard() {
    sqlite3_set_authorizer(db_, nullptr, nullptr);
}

std::string ReadOnlyGuard::timeLimitMessage() const {
    return "Query stopped after running longer than its time limit of " +
           std::to_string(limits_.timeLimit().count()) + " ms";
}

bool ReadOnlyGuard::isAllowedPragma(std::string_view name, bool hasArgument) {
    std::string key = lower(name);
    for (const auto& rule : kAllowedPragmas) {
        if (rule.name == key) {
            return rule.takesArgument || !hasArgument;
        }
    }
    return false;
}

std::optional<std::string> ReadOnlyGuard::refusalForStatementText(std::string_view sql) {
    size_t i = 0;
    while (i < sql.size()) {
        unsigned char c = static_cast<unsigned char>(sql[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (sql.substr(i, 2) == "--") {
            size_t end = sql.find('\n', i);
            i = end == std::string_view::npos ? sql.size() : end + 1;
        } else if (sql.substr(i, 2) == "/*") {
            size_t end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? sql.size() : end + 2;
        } else {
            break;
        }
    }
    size_t start = i;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i]))) {
        ++i;
    }
    std::string keyword = lower(sql.substr(start, i - start));
    if (keyword == "reindex") {
        return "REINDEX is not allowed on the read-only surface";
    }
    if (keyword == "vacuum") {
        return "VACUUM is not allowed on the read-only surface";
    }
    return std::nullopt;
}

int ReadOnlyGuard::authorize(void* self, int action, const char* arg1, const char* arg2,
                             const char* /*database*/, const char* /*trigger*/) {
    auto* guard = static_cast<ReadOnlyGuard*>(self);
    auto refuse = [guard](std::string reason) {
        guard->refusal_ = std::move(reason);
        return SQLITE_DENY;
    };
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        // load_extension runs code from a file; fts3_tokenizer hands out and
        // replaces pointers inside SQLite.
        if (arg2 != nullptr &&
            (lower(arg2) == "load_extension" || lower(arg2) == "fts3_tokenizer")) {
            return refuse(lower(arg2) + " is not allowed on the read-only surface");
        }
        return SQLITE_OK;
    case SQLITE_PRAGMA: {
        std::string name = arg1 == nullptr ? std::string() : lower(arg1);
        bool hasArgument = arg2 != nullptr;
        if (isAllowedPragma(name, hasArgument)) {
            return SQLITE_OK;
        }
        for (const auto& rule : kAllowedPragmas) {
            if (rule.name == name) {
                return refuse("PRAGMA " + name +
                              " with a value is not allowed on the read-only surface");
            }
        }
        return refuse("PRAGMA " + name + " is not allowed on the read-only surface (allowed: " +
                      allowedPragmaList() + ")");
    }
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
        return refuse("Attaching and detaching databases is not allowed on the read-only surface");
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
        return refuse("Transaction and savepoint control is not allowed on the read-only surface");
    case SQLITE_REINDEX:
        return refuse("REINDEX is not allowed on the read-only surface");
    case SQLITE_ANALYZE:
        return refuse("ANALYZE is not allowed on the read-only surface");
    // Writes prepare normally; sqlite3_stmt_readonly() then rejects them.
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_DELETE:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VIEW:
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_ALTER_TABLE:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
        return SQLITE_OK;
    default:
        return refuse("This kind of statement is not allowed on the read-only surface");
    }
}

} // namespace orlune::core
