#pragma once
// The one connection a shadow database handle and its table groups share.

#include "sql/SQLite.hpp"
#include "sql/ShadowDBError.hpp"

#include <chrono>
#include <string>
#include <string_view>

namespace orlune::core {

// One SQLite connection to a shadow database file and the file's path, for
// naming it in errors. Owned by ShadowDBReader (or ShadowDB); each table
// group (ShadowMessageTables, ShadowSyncTables, ...) works through a
// reference to it, so they all run on the same connection and within the
// same transactions. Not copyable or movable.
class ShadowConnection {
public:
    // How long a statement waits for a lock another connection holds (a sync
    // committing a page, a schema upgrade) before it fails as busy.
    static constexpr std::chrono::milliseconds kBusyTimeout{5000};

    explicit ShadowConnection(std::string path) : path_(std::move(path)) {}
    ShadowConnection(const ShadowConnection&) = delete;
    ShadowConnection& operator=(const ShadowConnection&) = delete;

    // Opens the path with the SQLite open `flags` (SQLITE_OPEN_URI and
    // SQLITE_OPEN_FULLMUTEX added) and the URI `query` ("mode=ro", or empty),
    // sets extended result codes and the busy wait, and refuses a file that
    // is not a shadow database this version can use (ShadowSchema::
    // checkCompatible) before anything is written. Throws failedToOpen.
    void open(std::string_view query, int flags);
    // Closes the connection; later calls do nothing. Statements on a closed
    // connection throw.
    void close() { db_.close(); }

    const std::string& path() const { return path_; }
    sqlite::Connection& db() { return db_; }
    sqlite3* handle() const { return db_.get(); }

    // Runs `operation`, turning a failed SQLite call into ShadowDBError for
    // the file (ShadowDBError::fromSQLite). Other exceptions pass through.
    template <typename Operation> auto guarded(Operation&& operation) -> decltype(operation()) {
        try {
            return operation();
        } catch (const sqlite::Error& error) {
            throw ShadowDBError::fromSQLite(error, path_);
        }
    }

    // Whether the database has the table `name` (tables come with schema
    // versions). Throws prepareFailed or queryFailed.
    bool hasTable(std::string_view name);
    // Whether the table `table` has the column `column` (columns also come
    // with schema versions). Throws prepareFailed or queryFailed.
    bool hasColumn(std::string_view table, std::string_view column);

private:
    sqlite::Connection db_;
    std::string path_;
};

} // namespace orlune::core
