// The read-only side of ShadowDB: opening a database for reading only, and the
// query surface for tools that explore the shadow database.

#include "OrluneCore/ShadowDB.hpp"

namespace orlune::core {

namespace {

// Runs `operation` and reports its failure as ShadowDB's own error.
template <typename Operation> auto translated(Operation&& operation) {
    try {
        return operation();
    } catch (const ReadOnlyQuery::Error& error) {
        throw ShadowDB::Error(error.kind() == ReadOnlyQuery::Error::Kind::queryFailed
                                  ? ShadowDB::Error::Kind::queryFailed
                                  : ShadowDB::Error::Kind::prepareFailed,
                              error.message());
    }
}

} // namespace

ShadowDB::ShadowDB(ReadOnlyTag, std::string path) : path_(std::move(path)) {
    int rc = db_.open(path_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX);
    if (rc != SQLITE_OK) {
        std::string message = db_.errorMessage();
        db_.close();
        throw Error(Error::Kind::failedToOpen, message);
    }
}

std::unique_ptr<ShadowDB> ShadowDB::openReadOnly(const std::string& path) {
    return std::unique_ptr<ShadowDB>(new ShadowDB(ReadOnlyTag{}, path));
}

ShadowQueryResult ShadowDB::executeReadOnly(const std::string& sql, int limit,
                                            std::chrono::milliseconds timeLimit) {
    return translated([&] { return ReadOnlyQuery::execute(handle(), sql, limit, timeLimit); });
}

ShadowQueryResult ShadowDB::executeReadOnly(const std::string& sql, int limit,
                                            const QueryBounds& bounds) {
    return translated([&] { return ReadOnlyQuery::execute(handle(), sql, limit, bounds); });
}

std::vector<std::string> ShadowDB::listTables() {
    return translated([&] { return ReadOnlyQuery::listTables(handle()); });
}

std::vector<ColumnInfo> ShadowDB::describeTable(const std::string& table) {
    return translated([&] { return ReadOnlyQuery::describeTable(handle(), table); });
}

int64_t ShadowDB::schemaVersion() {
    return translated([&] { return ReadOnlyQuery::schemaVersion(handle()); });
}

} // namespace orlune::core
