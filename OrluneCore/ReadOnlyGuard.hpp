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
// and a progress handler installed on it; the destructor removes both.
// Statements that write (INSERT, UPDATE, DELETE, CREATE, DROP, ...) are let
// through the authorizer on purpose so that the caller's
// sqlite3_stmt_readonly() check reports them with its own text.

#include <sqlite3.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::core {

class ReadOnlyGuard {
public:
    // Guards `db` (not owned; must outlive the guard) until destruction.
    // `timeLimit` bounds the work of the statements run meanwhile, counted
    // from construction; a statement still running after it is interrupted.
    ReadOnlyGuard(sqlite3* db, std::chrono::milliseconds timeLimit);
    ~ReadOnlyGuard();
    ReadOnlyGuard(const ReadOnlyGuard&) = delete;
    ReadOnlyGuard& operator=(const ReadOnlyGuard&) = delete;

    // Why the authorizer refused the last statement it refused, or absent.
    const std::optional<std::string>& refusal() const { return refusal_; }
    // True once the progress handler has interrupted a statement.
    bool timedOut() const { return timedOut_; }
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
    static int progress(void* self);

    sqlite3* db_;
    std::chrono::milliseconds timeLimit_;
    std::chrono::steady_clock::time_point deadline_;
    std::optional<std::string> refusal_;
    bool timedOut_ = false;
};

} // namespace orlune::core
