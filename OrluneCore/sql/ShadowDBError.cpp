#include "sql/ShadowDBError.hpp"

namespace orlune::core {

namespace {

std::string descriptionFor(ShadowDBError::Kind kind, const std::string& message) {
    switch (kind) {
    case ShadowDBError::Kind::failedToOpen:
        return "Failed to open database: " + message;
    case ShadowDBError::Kind::queryFailed:
        return "Query failed: " + message;
    case ShadowDBError::Kind::prepareFailed:
        return "Statement preparation failed: " + message;
    case ShadowDBError::Kind::insertFailed:
        return "Insert failed: " + message;
    }
    return message;
}

} // namespace

ShadowDBError::ShadowDBError(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)), description_(descriptionFor(kind_, message_)) {}

ShadowDBError ShadowDBError::fromSQLite(const sqlite::Error& error, const std::string& path) {
    std::string message = error.what();
    if (error.isDamage()) {
        message += " (the shadow database " + path +
                   " is damaged; delete it and sync again to rebuild it)";
    } else if (error.primaryCode() == SQLITE_FULL) {
        message += " (the disk holding " + path +
                   " is full; free some space and sync again: what was copied is kept)";
    }
    return ShadowDBError(error.stage() == sqlite::Error::Stage::prepare ? Kind::prepareFailed
                                                                        : Kind::queryFailed,
                         std::move(message));
}

} // namespace orlune::core
