// The read-only query surface of the shadow database, for tools that explore
// it: the checks live in ReadOnlyQuery, on this handle's connection.

#include "shadow/ShadowDBReader.hpp"

namespace orlune::core {

ShadowQueryResult ShadowDBReader::executeReadOnly(const std::string& sql, int limit,
                                                  std::chrono::milliseconds timeLimit) {
    return ReadOnlyQuery::execute(handle(), sql, limit, timeLimit);
}

ShadowQueryResult ShadowDBReader::executeReadOnly(const std::string& sql, int limit,
                                                  const QueryBounds& bounds) {
    return ReadOnlyQuery::execute(handle(), sql, limit, bounds);
}

std::vector<std::string> ShadowDBReader::listTables() {
    return ReadOnlyQuery::listTables(handle());
}

std::vector<ColumnInfo> ShadowDBReader::describeTable(const std::string& table) {
    return ReadOnlyQuery::describeTable(handle(), table);
}

int64_t ShadowDBReader::schemaVersion() {
    return ReadOnlyQuery::schemaVersion(handle());
}

} // namespace orlune::core
