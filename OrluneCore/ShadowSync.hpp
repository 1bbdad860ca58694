#pragma once
// The sync engine: copies new messages from the messaging store into the
// shadow database, one pass at a time, after the cursor the shadow database
// keeps.

#include "OrluneCore/Environment.hpp"
#include "OrluneCore/SearchResult.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

class ShadowSyncError : public std::exception {
public:
    enum class Kind { syncFailed, chatDBNotFound };

    // `message` is used by syncFailed only.
    explicit ShadowSyncError(Kind kind, std::string message = {});

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    Kind kind_;
    std::string message_;
    std::string description_;
};

// Holds only the two paths; every pass opens and closes its own connections,
// so an engine may be kept and used again. One pass at a time per shadow
// database is the caller's duty (no busy timeout is set, so a second writer
// fails rather than waits). Not thread-safe; a pass runs wholly on the
// calling thread.
class ShadowSync {
public:
    // Rows read from the store per page.
    static constexpr int kBatchSize = 10000;
    // How many of the newest store rows each pass reads again to catch text
    // that arrived or changed after the row was first read.
    static constexpr int kRecheckWindow = 2000;
    // How far below the join mark the joins are looked at again when the
    // store has reused the mark's rowid.
    static constexpr int64_t kJoinRecheckWindow = 1000;

    // Called after each committed page with the number of store rows read so
    // far in this pass (kept or dropped). It must not throw.
    using ProgressCallback = std::function<void(int64_t rowsRead)>;

    // Absent paths take ChatDBReader::defaultChatDBPath and
    // ShadowDB::defaultShadowDBPath, resolved here, once (so CHAT_DB_PATH and
    // SHADOW_DB_PATH are read now and the default shadow folder is created
    // now).
    explicit ShadowSync(const std::optional<std::string>& chatDBPath = std::nullopt,
                        const std::optional<std::string>& shadowDBPath = std::nullopt,
                        const Environment& environment = Environment::process());

    // One pass: refreshes chat membership, then copies the store's rows after
    // the cursor in pages of kBatchSize, committing each page and then moving
    // the cursor, until a short page. Returns the number of messages written
    // (new or replacing a copy with the same guid), not the growth of the
    // shadow database. Throws ShadowSyncError (chatDBNotFound when the store
    // file is missing; nothing else is touched then), ChatDBReader::Error or
    // ShadowDB::Error; pages committed before a failure stay, with the cursor
    // after them.
    int64_t performSync(const ProgressCallback& progress = {});

    // Opens the shadow database, counts its messages and closes it. Does not
    // create the schema: a file never synced throws ShadowDB::Error
    // (prepareFailed).
    int64_t messageCount() const;

    // Opens the shadow database, returns ShadowDB::search(query, limit) on it
    // and closes it (ShadowSyncSearch.cpp). Creates no schema: a file never
    // synced throws ShadowDB::Error (prepareFailed).
    std::vector<SearchResult> search(const std::string& query, int limit) const;

    const std::string& databasePath() const { return shadowDBPath_; }
    const std::string& sourceDatabasePath() const { return chatDBPath_; }

private:
    std::string chatDBPath_;
    std::string shadowDBPath_;
};

} // namespace orlune::core
