// ShadowDBReader::search: one ranked FTS5 query joined back to the messages.

#include "OrluneCore/MatchExpression.hpp"
#include "OrluneCore/ResultBudget.hpp"
#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/ShadowDBReader.hpp"
#include "OrluneCore/StatementLimits.hpp"

#include <cstring>

namespace orlune::core {

std::vector<SearchResult> ShadowDBReader::search(const std::string& query, int limit) {
    return search(query, limit, QueryBounds{}).results;
}

std::string ShadowDBReader::searchTimeLimitMessage(const QueryBounds& bounds) {
    return "The search took longer than " + bounds.timeLimitText() + " and was stopped";
}

ShadowDBReader::SearchOutcome ShadowDBReader::search(const std::string& query, int limit,
                                                     const QueryBounds& bounds) {
    const std::string_view expression(query.c_str(), std::strlen(query.c_str()));
    if (auto refusal = MatchExpression::refusal(expression, bounds)) {
        throw Error(Error::Kind::queryFailed, *refusal);
    }
    sqlite::Statement statement = guarded([&] { return db_.prepare(kSearchResultSql); });
    StatementLimits limits(handle(), bounds.timeLimit, bounds.maxValueBytes);
    statement.bindText(1, expression);
    statement.bindInt(2, limit);

    SearchOutcome outcome;
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    try {
        while (statement.step()) {
            if (statement.isNull(0) || statement.isNull(1) || statement.isNull(3) ||
                statement.isNull(4)) {
                continue;
            }
            outcome.results.push_back(SearchResult{
                budget.readText(statement.get(), 0),
                budget.readText(statement.get(), 1),
                statement.isNull(2)
                    ? std::nullopt
                    : std::optional<std::string>(budget.readText(statement.get(), 2)),
                budget.readText(statement.get(), 3),
                budget.readText(statement.get(), 4),
                statement.columnInt64(5),
                statement.columnInt64(6) != 0,
                statement.columnInt64(7) != 0,
                statement.columnDouble(8),
            });
            if (limits.expired()) {
                break;
            }
            if (budget.exhausted()) {
                outcome.stoppedAtSizeLimit = true;
                break;
            }
        }
    } catch (const sqlite::Error& error) {
        // Running out of time is reported as such. The MATCH expression is a
        // bound value, so FTS5 judges its syntax at the first step, with
        // SQLITE_ERROR: a malformed expression matches nothing. Any other
        // failure (a damaged file, an I/O error) is an error, never a short
        // list.
        if (limits.timedOut()) {
            throw Error(Error::Kind::queryFailed, searchTimeLimitMessage(bounds));
        }
        if (error.primaryCode() == SQLITE_ERROR) {
            return {};
        }
        throw Error::fromSQLite(error, path_);
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, searchTimeLimitMessage(bounds));
    }
    outcome.cutTexts = budget.cutCells();
    return outcome;
}

} // namespace orlune::core
