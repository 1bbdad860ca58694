#pragma once
// Keeps a statement run through the read-only query surface from changing the
// database file or the state of the connection it shares with the sync and
// the search, and from running without end.
//
// sqlite3_stmt_readonly() alone is not enough: it lets through ATTACH (which
// creates the attached file), transaction and savepoint control, REINDEX and
// pragmas that change the connection or the file (query_only, locking_mode,
// writable_schema, recursive_triggers, optimize, user_version = N, ...).
// While a guard lives it holds the connection's mutex and has an authorizer
// installed on it, and the statements run meanwhile are held to a time limit
// and a value-size limit (StatementLimits), with printf and format bounded by
// that limit (BoundedPrintf); the destructor undoes all of it but the
// functions, which stay with the connection.
// Statements that write (INSERT, UPDATE, DELETE, CREATE, DROP, ...) are let
// through the authorizer on purpose so that the caller's
// sqlite3_stmt_readonly() check reports them with its own text.

#include "sql/StatementLimits.hpp"

#include <chrono>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace orlune::core {

class ReadOnlyGuard {
public:
    // Guards `db` (not owned; must outlive the guard) until destruction.
    // `timeLimit` bounds the work of the statements run meanwhile, counted
    // from construction; a statement still running after it is interrupted.
    // No string or blob longer than `maxValueBytes` is built or read.
    ReadOnlyGuard(sqlite3* db, std::chrono::milliseconds timeLimit, int64_t maxValueBytes);
    ~ReadOnlyGuard();
    ReadOnlyGuard(const ReadOnlyGuard&) = delete;
    ReadOnlyGuard& operator=(const ReadOnlyGuard&) = delete;

    // Why the authorizer refused the last statement it refused, or absent.
    const std::optional<std::string>& refusal() const { return refusal_; }
    // True once the deadline has stopped a statement.
    bool timedOut() const { return limits_.timedOut(); }
    // The time and size limits in force, for checks between steps.
    StatementLimits& limits() { return limits_; }
    // The text reported for a statement stopped by the time limit.
    std::string timeLimitMessage() const;

    // Why a statement of `sql` must not run although neither the authorizer
    // nor sqlite3_stmt_readonly() catches it (REINDEX without a name asks the
    // authorizer nothing), or absent. Looks only at the first keyword.
    static std::optional<std::string> refusalForStatementText(std::string_view sql);

    // Pragmas that only read: allowed with an argument (a table or index
    // name) or without one, as listed.
    static bool isAllowedPragma(std::string_view name, bool hasArgument);

private:
    static int authorize(void* self, int action, const char* arg1, const char* arg2,
                         const char* database, const char* trigger);
    // First member: it takes the connection's mutex before the authorizer is
    // installed and gives it back after the authorizer is removed.
    StatementLimits limits_;
    sqlite3* db_;
    std::optional<std::string> refusal_;
};

} // namespace orlune::core
