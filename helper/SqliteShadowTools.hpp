#pragma once
// ShadowTools on a connection of the helper's own, opened read-only on the
// shadow database file. Three guards keep it from changing anything: the
// connection is opened read-only with query_only set, every statement must be
// judged read-only by SQLite (sqlite3_stmt_readonly) and be a single
// statement, and an authorizer refuses ATTACH, DETACH, transaction control and
// every PRAGMA except a short list of ones that only read the schema. A
// progress handler stops any statement that runs past its time budget.
//
// One instance, one connection, used from one thread; closed on destruction.

#include "helper/ShadowTools.hpp"

#include "OrluneCore/SQLite.hpp"

#include <chrono>

namespace orlune::helper {

class SqliteShadowTools : public ShadowTools {
public:
    using Clock = std::chrono::steady_clock;

    // Opens `path` read-only. Throws ShadowToolError with "Failed to open
    // database: " and SQLite's message when the file is missing or unreadable.
    explicit SqliteShadowTools(const std::string& path);

    // Statements still running at `deadline` are interrupted and fail.
    void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }

    QueryTable query(const std::string& sql, int limit) override;
    std::vector<MessageHit> search(const std::string& match, int limit) override;
    std::vector<std::string> listTables() override;
    std::vector<TableColumn> describeTable(const std::string& table) override;

    // Longest time one statement may run.
    static constexpr std::chrono::seconds kStatementBudget{10};

private:
    void startStatementClock();
    static int progress(void* self);
    static int authorize(void* self, int action, const char* a, const char* b, const char* c,
                         const char* d);

    core::sqlite::Connection db_;
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::time_point statementDeadline_ = Clock::time_point::max();
    bool interrupted_ = false;
};

} // namespace orlune::helper
