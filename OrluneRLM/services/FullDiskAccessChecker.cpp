#include "services/FullDiskAccessChecker.hpp"

#include "store/ChatDBReader.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace orlune::rlm {

namespace {

FullDiskAccessResult refused(const StructuredLogger& logger, const std::string& reason,
                             StructuredLogger::Metadata metadata) {
    metadata["error"] = reason;
    logger.warning("fda_chat_db_denied", metadata);
    return {false, reason + ": " + FullDiskAccessChecker::kRefusedMessage, true};
}

} // namespace

FullDiskAccessChecker::StoreAccess FullDiskAccessChecker::StoreAccess::system() {
    StoreAccess access;
    access.statError = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? 0 : errno;
    };
    access.open = [](const std::string& path, core::StoreOpenFailure& failure) {
        return core::openStoreReadOnly(path, failure);
    };
    return access;
}

std::string FullDiskAccessChecker::chatDatabasePath(const core::Environment& environment) {
    return core::ChatDBReader::defaultChatDBPath(environment);
}

FullDiskAccessResult
FullDiskAccessChecker::checkChatDatabaseAccess(const StructuredLogger& logger,
                                               const core::Environment& environment,
                                               const StoreAccess& access) {
    const std::string path = chatDatabasePath(environment);
    const int statError = path.empty() ? ENOENT : access.statError(path);
    if (statError == ENOENT || statError == ENOTDIR) {
        logger.warning("fda_chat_db_missing", {{"path", path}});
        return {false, "chat.db not found", false};
    }
    if (statError == EPERM || statError == EACCES) {
        return refused(logger, std::strerror(statError),
                       {{"path", path}, {"errno", std::to_string(statError)}});
    }
    if (statError != 0) {
        const std::string reason = std::strerror(statError);
        logger.warning("fda_chat_db_open_failed",
                       {{"path", path}, {"errno", std::to_string(statError)}, {"error", reason}});
        return {false, reason, false};
    }

    // Read-only, never creating anything at the path; the connection closes
    // as it leaves scope.
    core::StoreOpenFailure failure;
    core::sqlite::Connection connection = access.open(path, failure);
    if (!connection) {
        const int code = failure.code & 0xFF;
        const std::string description = sqlite3_errstr(code);
        if (failure.accessDenied) {
            return refused(logger, description,
                           {{"path", path}, {"sqlite_code", std::to_string(code)}});
        }
        logger.warning(
            "fda_chat_db_open_failed",
            {{"path", path}, {"sqlite_code", std::to_string(code)}, {"sqlite_error", description}});
        return {false, description, false};
    }

    // The first row the sync would read: a store that opens but whose
    // messages cannot be read is no access either.
    core::sqlite::Statement firstPage;
    int rc = SQLITE_OK;
    try {
        firstPage.prepare(connection.get(), core::chat_db_sql::kFetchMessages);
        firstPage.bindInt64(1, INT64_MIN);
        firstPage.bindInt64(2, INT64_MIN);
        firstPage.bindInt64(3, INT64_MIN);
        firstPage.bindInt(4, 1);
        (void)firstPage.step();
    } catch (const core::sqlite::Error& error) {
        rc = error.code();
    }
    // A store busy with its owner's write was opened and read all the same.
    const bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    if (rc != SQLITE_OK && !busy) {
        const int code = sqlite3_extended_errcode(connection.get()) & 0xFF;
        const int systemErrno = sqlite3_system_errno(connection.get());
        const std::string message = connection.errorMessage();
        if (core::isAccessDenial(code, systemErrno)) {
            return refused(logger, message,
                           {{"path", path}, {"sqlite_code", std::to_string(code)}});
        }
        logger.warning(
            "fda_chat_db_read_failed",
            {{"path", path}, {"sqlite_code", std::to_string(code)}, {"sqlite_error", message}});
        return {false, message, false};
    }
    logger.info("fda_chat_db_open_ok", {{"path", path}});
    return {true, std::nullopt, false};
}

} // namespace orlune::rlm
