#include "OrluneRLM/FullDiskAccessChecker.hpp"

#include "OrluneCore/ChatDBReader.hpp"
#include "OrluneCore/SQLite.hpp"

namespace orlune::rlm {

std::string FullDiskAccessChecker::chatDatabasePath(const core::Environment& environment) {
    return core::ChatDBReader::defaultChatDBPath(environment);
}

FullDiskAccessResult
FullDiskAccessChecker::checkChatDatabaseAccess(const StructuredLogger& logger,
                                               const core::Environment& environment) {
    const std::string path = chatDatabasePath(environment);
    if (!core::pathExists(path)) {
        logger.warning("fda_chat_db_missing", {{"path", path}});
        return {false, "chat.db not found"};
    }
    // Read-only and without SQLITE_OPEN_CREATE or URI handling, so nothing
    // is ever made at the path; the connection closes as it leaves scope.
    core::sqlite::Connection connection;
    const int code = connection.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX);
    if (code != SQLITE_OK) {
        // The library's fixed text for the code, not the connection's message.
        const std::string description = sqlite3_errstr(code);
        connection.close();
        logger.warning(
            "fda_chat_db_open_failed",
            {{"path", path}, {"sqlite_code", std::to_string(code)}, {"sqlite_error", description}});
        return {false, description};
    }
    connection.close();
    logger.info("fda_chat_db_open_ok", {{"path", path}});
    return {true, std::nullopt};
}

} // namespace orlune::rlm
