#include "shadow/ShadowConnection.hpp"

#include "shadow/ShadowSchema.hpp"
#include "sql/StoreConnection.hpp"

namespace orlune::core {

namespace {

constexpr std::string_view kHasTable =
    "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?";
constexpr std::string_view kHasColumn = "SELECT COUNT(*) FROM pragma_table_info(?) WHERE name = ?";

} // namespace

void ShadowConnection::open(std::string_view query, int flags) {
    if (db_.open(fileUri(path_, query), flags | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX) !=
        SQLITE_OK) {
        const std::string message = db_.errorMessage();
        db_.close();
        throw ShadowDBError(ShadowDBError::Kind::failedToOpen, message);
    }
    sqlite3_extended_result_codes(handle(), 1);
    sqlite3_busy_timeout(handle(), static_cast<int>(kBusyTimeout.count()));
    ShadowSchema::checkCompatible(handle(), path_);
}

bool ShadowConnection::hasTable(std::string_view name) {
    return guarded([&] {
        sqlite::Statement has = db_.prepare(kHasTable);
        has.bindText(1, std::string(name));
        return has.step() && has.columnInt64(0) > 0;
    });
}

bool ShadowConnection::hasColumn(std::string_view table, std::string_view column) {
    return guarded([&] {
        sqlite::Statement has = db_.prepare(kHasColumn);
        has.bindText(1, std::string(table));
        has.bindText(2, std::string(column));
        return has.step() && has.columnInt64(0) > 0;
    });
}

} // namespace orlune::core
