#pragma once
// Whether this process may read the messaging store.

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/FullDiskAccessResult.hpp"
#include "OrluneRLM/StructuredLogger.hpp"

#include <string>

namespace orlune::rlm {

// Stateless; callable from any thread (the application calls it on the GUI
// thread: it is one existence check and one open/close).
class FullDiskAccessChecker {
public:
    FullDiskAccessChecker() = delete;

    // The store the sync reads: ChatDBReader's default path, i.e. CHAT_DB_PATH
    // exactly as set when present, else the home folder's
    // "Library/Messages/chat.db".
    static std::string
    chatDatabasePath(const core::Environment& environment = core::Environment::process());

    // Tests the store at chatDatabasePath(): when nothing exists there, logs
    // the warning "fda_chat_db_missing" {"path"} and reports "chat.db not
    // found" without calling SQLite; otherwise opens it with
    // SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX (never creating anything),
    // closes it at once and logs "fda_chat_db_open_ok" {"path"} (info), or on
    // failure logs the warning "fda_chat_db_open_failed" {"path",
    // "sqlite_code", "sqlite_error"} and reports sqlite3_errstr(code).
    // Exactly one event per call; never throws; never leaves a handle open.
    static FullDiskAccessResult
    checkChatDatabaseAccess(const StructuredLogger& logger,
                            const core::Environment& environment = core::Environment::process());
};

} // namespace orlune::rlm
