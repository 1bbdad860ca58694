// ShadowDB::search: one ranked FTS5 query joined back to the messages.

#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/ShadowDB.hpp"

#include <cstring>

namespace orlune::core {

std::vector<SearchResult> ShadowDB::search(const std::string& query, int limit) {
    sqlite::Statement statement = prepare(kSearchResultSql);
    statement.bindText(1, std::string_view(query.c_str(), std::strlen(query.c_str())));
    statement.bindInt(2, limit);

    std::vector<SearchResult> results;
    // The MATCH expression is a bound value, so FTS5 judges its syntax at the
    // first step: a rejected expression ends the loop with no rows and is not
    // an error, nor is a failure part-way, which keeps the rows read.
    while (statement.step() == SQLITE_ROW) {
        if (statement.isNull(0) || statement.isNull(1) || statement.isNull(3) ||
            statement.isNull(4)) {
            continue;
        }
        results.push_back(SearchResult{
            statement.columnText(0),
            statement.columnText(1),
            statement.columnOptionalText(2),
            statement.columnText(3),
            statement.columnText(4),
            statement.columnInt64(5),
            statement.columnInt64(6) != 0,
            statement.columnInt64(7) != 0,
            statement.columnDouble(8),
        });
    }
    return results;
}

} // namespace orlune::core
