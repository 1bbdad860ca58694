// ShadowDBReader::search: one ranked FTS5 query joined back to the messages.

#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/ShadowDBReader.hpp"

#include <cstring>

namespace orlune::core {

std::vector<SearchResult> ShadowDBReader::search(const std::string& query, int limit) {
    sqlite::Statement statement = guarded([&] { return db_.prepare(kSearchResultSql); });
    statement.bindText(1, std::string_view(query.c_str(), std::strlen(query.c_str())));
    statement.bindInt(2, limit);

    std::vector<SearchResult> results;
    try {
        while (statement.step()) {
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
    } catch (const sqlite::Error& error) {
        // The MATCH expression is a bound value, so FTS5 judges its syntax at
        // the first step, with SQLITE_ERROR: a malformed expression matches
        // nothing. Any other failure (a damaged file, an I/O error, an
        // interrupted statement) is an error, never a short list.
        if (error.primaryCode() == SQLITE_ERROR) {
            return {};
        }
        throw Error::fromSQLite(error, path_);
    }
    return results;
}

} // namespace orlune::core
