#pragma once
// The read-only query surface over a shadow database connection: run one
// statement that cannot change anything and read its rows as typed values,
// list the tables, describe a table, read the schema version. ShadowDB
// offers these operations on its own connection; they live here, on a bare
// connection, so that the checks can be exercised on their own.
//
// Every function runs synchronously on the calling thread and throws
// ReadOnlyQuery::Error. `db` is not owned and must be open (a null handle
// fails with prepareFailed, "Database is closed").

#include "sql/ColumnInfo.hpp"
#include "sql/QueryBounds.hpp"
#include "sql/ShadowDBError.hpp"
#include "sql/ShadowQueryResult.hpp"

#include <chrono>
#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

class ReadOnlyQuery {
public:
    // Failures are the shadow database's own error, with its queryFailed and
    // prepareFailed kinds.
    using Error = ShadowDBError;

    // How long one statement of executeReadOnly may run before it is stopped.
    static constexpr std::chrono::milliseconds kDefaultTimeLimit = QueryBounds::kDefaultTimeLimit;
    // Rows returned when the caller passes a limit of 0 or less.
    static constexpr int kDefaultRowLimit = 100;

    // Runs one read-only statement and returns at most `limit` rows (100 when
    // `limit` <= 0). Refused, with queryFailed: empty text ("SQL query must
    // not be empty"), a statement that writes ("Only read-only SQL statements
    // are allowed"), more than one statement ("Only a single SQL statement is
    // allowed"), ATTACH/DETACH, transaction or savepoint control, REINDEX,
    // ANALYZE, VACUUM, load_extension and any pragma outside a short list of
    // pragmas that only read; a statement still running after `timeLimit` is
    // stopped. A statement that does not prepare fails with prepareFailed.
    // The other bounds are QueryBounds' defaults.
    static ShadowQueryResult execute(sqlite3* db, std::string_view sql, int limit,
                                     std::chrono::milliseconds timeLimit = kDefaultTimeLimit);

    // As above, within `bounds`: the time limit covers every step and the
    // reading of the rows; a value SQLite would make or read larger than
    // maxValueBytes fails the statement with queryFailed ("A value in the
    // result would be larger than ..."); texts and blobs are cut to
    // maxCellBytes, and reading stops once the result holds maxResultBytes,
    // both reported in the result (cutCells, stoppedAtSizeLimit).
    static ShadowQueryResult execute(sqlite3* db, std::string_view sql, int limit,
                                     const QueryBounds& bounds);

    // The text of queryFailed for a value larger than `maxValueBytes`.
    static std::string valueTooLargeMessage(int64_t maxValueBytes);

    // Tables and views by name, those of SQLite itself left out.
    static std::vector<std::string> listTables(sqlite3* db);

    // The columns of `table` in definition order; a well-formed name of no
    // table gives an empty list. A name that is not one plain identifier
    // (after trimming) fails with queryFailed "Invalid table name: <as passed>".
    static std::vector<ColumnInfo> describeTable(sqlite3* db, std::string_view table);

    // PRAGMA schema_version.
    static int64_t schemaVersion(sqlite3* db);

    // `text` without Unicode white space and line breaks at both ends.
    static std::string trimWhitespace(std::string_view text);
};

} // namespace orlune::core
