#pragma once
// The shadow database's record of its sync: the cursor and message count
// (sync_state), the catch-up marks (sync_marks) and what was left out
// (left_out_counts), the store it copies
// (sync_source), the deletion checks' marks (store_deletions and
// recently_deleted), whether every chat of each message is listed yet
// (message_chats_state) and which chats the last pass left out
// (excluded_chats).

#include "records/LeftOutCounts.hpp"
#include "shadow/ShadowConnection.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orlune::core {

// The sync tables over a shared connection (ShadowConnection). Every failure
// is thrown as ShadowDBError (prepareFailed or queryFailed). Writes run in
// the caller's transaction unless said otherwise.
class ShadowSyncTables {
public:
    struct Watermark {
        int64_t timestamp = 0;
        int64_t rowid = 0;
    };

    // The row of sync_marks (all 0 for a new database, or one synced before
    // the table existed).
    struct SyncMarks {
        int64_t messageRowid = 0;
        int64_t joinRowid = 0;
        int64_t joinMessageId = 0;
        int64_t joinChatId = 0;
        // The left_out_counts row (zeros on a database without it).
        LeftOutCounts leftOut;
        bool operator==(const SyncMarks&) const = default;
    };

    // Which messaging store the database copies (the sync_source row).
    struct SyncSource {
        std::string storePath;
        int64_t anchorRowid = 0;
        std::optional<std::string> anchorGuid;
        bool operator==(const SyncSource&) const = default;
    };

    // The store_deletions row (zeros before the first pass that writes it).
    struct DeletionMarks {
        int64_t tombstoneRowid = 0;
        int64_t storeRows = 0;
        int64_t storeMaxRowid = 0;
        bool includeJunk = false;
        bool rereadAll = false; // compare every row read with its copy this pass
        bool operator==(const DeletionMarks&) const = default;
    };

    explicit ShadowSyncTables(ShadowConnection& connection) : connection_(connection) {}

    // The sync cursor; (0, 0) for a fresh database.
    Watermark watermark();
    // Stores the cursor, the message count and the current time (whole
    // seconds since 1970-01-01 UTC).
    void storeState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount);

    SyncMarks marks();
    void storeMarks(const SyncMarks& marks);

    // The recorded source; absent before the first sync that records one.
    std::optional<SyncSource> source();
    void storeSource(const SyncSource& source);

    DeletionMarks deletionMarks();
    void storeDeletionMarks(const DeletionMarks& marks);
    // The recently_deleted rows (store ROWID, guid), by ROWID; and replacing
    // them, in one transaction of its own.
    std::vector<std::pair<int64_t, std::string>> recentlyDeletedRows();
    void replaceRecentlyDeletedRows(const std::vector<std::pair<int64_t, std::string>>& rows);

    // False while a database copied before message_chats existed still lacks
    // the extra chats of its messages in several chats; and setting it.
    bool membershipsComplete();
    void markMembershipsComplete();

    // The digests of the chats the last pass left out (excluded_chats);
    // and replacing them, in one transaction of its own.
    std::set<std::string> excludedChatKeys();
    void replaceExcludedChatKeys(const std::set<std::string>& keys);

    // Sets the cursor, the count and the marks back to zero, so that the
    // next pass copies the store again.
    void resetCursor();

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core
