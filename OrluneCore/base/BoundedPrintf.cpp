#include "base/BoundedPrintf.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace orlune::core {

namespace {

constexpr const char* kFunctionNames[] = {"printf", "format"};
constexpr const char* kInstalledSql =
    "SELECT COUNT(*) FROM pragma_function_list WHERE name = 'printf' AND builtin = 0";

// The value of the next argument used by a '*' of the format, as SQLite's
// printf reads it (an int), or 0 when the arguments are used up.
int32_t intArgument(int argc, sqlite3_value** argv, int& next) {
    return next < argc ? static_cast<int32_t>(sqlite3_value_int64(argv[next++])) : 0;
}

// Whether the format (argument 0) holds a %c conversion whose precision is
// larger than `limit`. Walks the format as SQLite's printf does, taking an
// argument for each '*' and for each conversion but %% and %n.
bool repeatsBeyond(int argc, sqlite3_value** argv, int64_t limit) {
    const auto* format = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (format == nullptr) {
        return false;
    }
    int next = 1;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        while (*p != '\0' && std::string_view("-+ #!0,").find(*p) != std::string_view::npos) {
            ++p;
        }
        if (*p == '*') {
            intArgument(argc, argv, next);
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') {
                ++p;
            }
        }
        int64_t precision = -1;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                const int32_t given = intArgument(argc, argv, next);
                precision = given >= 0 ? given : (given >= -INT32_MAX ? -int64_t{given} : -1);
                ++p;
            } else {
                precision = 0;
                while (*p >= '0' && *p <= '9') {
                    precision = std::min<int64_t>(precision * 10 + (*p - '0'), INT32_MAX);
                    ++p;
                }
            }
        }
        while (*p == 'l') {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        if (*p == 'c' && precision > limit) {
            return true;
        }
        if (*p != '%' && *p != 'n') {
            ++next;
        }
    }
    return false;
}

// SQLite's own function of one name, on a private in-memory connection. One
// per registered function; called under the owning connection's mutex, so
// one call at a time.
class Delegate {
public:
    explicit Delegate(const char* name) : name_(name) {}
    ~Delegate() {
        for (auto& [count, statement] : statements_) {
            sqlite3_finalize(statement);
        }
        sqlite3_close_v2(db_);
    }
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;

    void call(sqlite3_context* context, int argc, sqlite3_value** argv) {
        const int limit =
            sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LENGTH, -1);
        if (argc > 0 && repeatsBeyond(argc, argv, limit)) {
            sqlite3_result_error_toobig(context);
            return;
        }
        sqlite3_stmt* statement = statementFor(argc);
        if (statement == nullptr) {
            sqlite3_result_error(context, "printf is not available", -1);
            return;
        }
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
        for (int i = 0; i < argc; ++i) {
            sqlite3_bind_value(statement, i + 1, argv[i]);
        }
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            sqlite3_result_value(context, sqlite3_column_value(statement, 0));
        } else if (rc == SQLITE_TOOBIG) {
            sqlite3_result_error_toobig(context);
        } else if (rc == SQLITE_NOMEM) {
            sqlite3_result_error_nomem(context);
        } else {
            sqlite3_result_error(context, sqlite3_errmsg(db_), -1);
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }

private:
    sqlite3_stmt* statementFor(int argc) {
        if (auto found = statements_.find(argc); found != statements_.end()) {
            return found->second;
        }
        if (db_ == nullptr &&
            sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
            return nullptr;
        }
        std::string sql = std::string("SELECT ") + name_ + "(";
        for (int i = 1; i <= argc; ++i) {
            sql += (i == 1 ? "?" : ", ?") + std::to_string(i);
        }
        sql += ")";
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement);
            return nullptr;
        }
        statements_[argc] = statement;
        return statement;
    }

    const char* name_;
    sqlite3* db_ = nullptr;
    std::map<int, sqlite3_stmt*> statements_;
};

void callDelegate(sqlite3_context* context, int argc, sqlite3_value** argv) {
    static_cast<Delegate*>(sqlite3_user_data(context))->call(context, argc, argv);
}

void destroyDelegate(void* delegate) {
    delete static_cast<Delegate*>(delegate);
}

bool installed(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, kInstalledSql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        found = sqlite3_column_int64(statement, 0) > 0;
    }
    sqlite3_finalize(statement);
    return found;
}

} // namespace

bool BoundedPrintf::install(sqlite3* db) {
    if (installed(db)) {
        return true;
    }
    for (const char* name : kFunctionNames) {
        // SQLite takes the delegate even when registration fails: it calls
        // destroyDelegate on it then.
        if (sqlite3_create_function_v2(db, name, -1,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                       new Delegate(name), &callDelegate, nullptr, nullptr,
                                       &destroyDelegate) != SQLITE_OK) {
            return false;
        }
    }
    return true;
}

} // namespace orlune::core
