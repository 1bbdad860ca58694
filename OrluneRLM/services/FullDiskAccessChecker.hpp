#pragma once
// Whether this process may read the messaging store.

#include "base/Environment.hpp"
#include "services/FullDiskAccessResult.hpp"
#include "services/StructuredLogger.hpp"
#include "sql/SQLite.hpp"
#include "sql/StoreConnection.hpp"

#include <functional>
#include <string>

namespace orlune::rlm {

// Stateless; callable from any thread (the application calls it on the GUI
// thread: a stat, an open and a one-row read).
class FullDiskAccessChecker {
public:
    FullDiskAccessChecker() = delete;

    // How the check reaches the store. Tests replace it to make the system
    // refuse access, which they cannot cause for real (they run as root, and
    // only the Mac has the privacy protection).
    struct StoreAccess {
        // 0 when an entry exists at the path, else stat's errno.
        std::function<int(const std::string& path)> statError;
        // Opens the store read-only as the sync does (core::openStoreReadOnly).
        std::function<core::sqlite::Connection(const std::string& path,
                                               core::StoreOpenFailure& failure)>
            open;

        // stat(2) and core::openStoreReadOnly.
        static StoreAccess system();
    };

    // The text shown when the system refuses access, after its own reason.
    static constexpr const char* kRefusedMessage =
        "the system refused access to the Messages database (Full Disk Access is not granted)";

    // The store the sync reads: ChatDBReader's default path, i.e. CHAT_DB_PATH
    // exactly as set when present, else the home folder's
    // "Library/Messages/chat.db".
    static std::string
    chatDatabasePath(const core::Environment& environment = core::Environment::process());

    // Tests the store at chatDatabasePath() by reading it as the sync does:
    // - nothing there (stat: ENOENT, ENOTDIR): the warning
    //   "fda_chat_db_missing" {"path"}, "chat.db not found"; SQLite is not
    //   called;
    // - the system refuses (stat: EPERM, EACCES; or the open or the read
    //   fails with core::isAccessDenial): the warning "fda_chat_db_denied"
    //   {"path", "error", and "errno" or "sqlite_code"}, accessDenied, and
    //   "<reason>: " + kRefusedMessage;
    // - any other stat failure: "fda_chat_db_open_failed" {"path", "errno",
    //   "error"} and strerror's text;
    // - the open fails: "fda_chat_db_open_failed" {"path", "sqlite_code",
    //   "sqlite_error"}, reporting sqlite3_errstr(code) (primary code);
    // - the first page of messages (the sync's own statement, one row)
    //   cannot be read: "fda_chat_db_read_failed" {"path", "sqlite_code",
    //   "sqlite_error"}, reporting SQLite's message (e.g. "no such table:
    //   message");
    // - otherwise access: "fda_chat_db_open_ok" {"path"} (info).
    // Exactly one event per call; never throws; never creates anything at the
    // path; never leaves a handle open.
    static FullDiskAccessResult
    checkChatDatabaseAccess(const StructuredLogger& logger,
                            const core::Environment& environment = core::Environment::process(),
                            const StoreAccess& access = StoreAccess::system());
};

} // namespace orlune::rlm
