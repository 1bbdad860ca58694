// The tables that record where the sync stands.

#include "shadow/ShadowSyncTables.hpp"

#include <chrono>

namespace orlune::core {

namespace {

constexpr std::string_view kSelectWatermark =
    "SELECT last_timestamp, last_rowid FROM sync_state WHERE id = 1";
constexpr std::string_view kUpdateSyncState =
    "UPDATE sync_state\n"
    "SET last_timestamp = ?, last_rowid = ?, message_count = ?, updated_at = ?\n"
    "WHERE id = 1";

constexpr std::string_view kSelectSyncMarks =
    "SELECT message_rowid, join_rowid, join_message_id, join_chat_id FROM sync_marks WHERE id = 1";
constexpr std::string_view kUpdateSyncMarks =
    "UPDATE sync_marks\n"
    "SET message_rowid = ?, join_rowid = ?, join_message_id = ?, join_chat_id = ?\n"
    "WHERE id = 1";
constexpr std::string_view kSelectLeftOut =
    "SELECT reactions, events, junk, unsent FROM left_out_counts WHERE id = 1";
constexpr std::string_view kUpdateLeftOut =
    "UPDATE left_out_counts SET reactions = ?, events = ?, junk = ?, unsent = ? WHERE id = 1";

constexpr std::string_view kSelectSyncSource =
    "SELECT store_path, anchor_rowid, anchor_guid FROM sync_source WHERE id = 1";
constexpr std::string_view kStoreSyncSource =
    "INSERT OR REPLACE INTO sync_source (id, store_path, anchor_rowid, anchor_guid)\n"
    "VALUES (1, ?, ?, ?)";

constexpr std::string_view kSelectDeletionMarks =
    "SELECT tombstone_rowid, store_rows, store_max_rowid, include_junk, reread_all\n"
    "FROM store_deletions WHERE id = 1";
constexpr std::string_view kStoreDeletionMarks =
    "INSERT OR REPLACE INTO store_deletions\n"
    "(id, tombstone_rowid, store_rows, store_max_rowid, include_junk, reread_all)\n"
    "VALUES (1, ?, ?, ?, ?, ?)";
constexpr std::string_view kSelectRecentlyDeleted =
    "SELECT source_rowid, guid FROM recently_deleted ORDER BY source_rowid";
constexpr std::string_view kClearRecentlyDeleted = "DELETE FROM recently_deleted";
constexpr std::string_view kInsertRecentlyDeleted =
    "INSERT OR REPLACE INTO recently_deleted (source_rowid, guid) VALUES (?, ?)";

constexpr std::string_view kMembershipsComplete =
    "SELECT complete FROM message_chats_state WHERE id = 1";
constexpr std::string_view kMarkMembershipsComplete =
    "INSERT OR REPLACE INTO message_chats_state (id, complete) VALUES (1, 1)";

constexpr std::string_view kSelectExcludedChats = "SELECT chat_key FROM excluded_chats";
constexpr std::string_view kClearExcludedChats = "DELETE FROM excluded_chats";
constexpr std::string_view kInsertExcludedChat = "INSERT INTO excluded_chats (chat_key) VALUES (?)";

constexpr std::string_view kResetCursor[] = {
    "UPDATE sync_state SET last_timestamp = 0, last_rowid = 0, message_count = 0",
    "UPDATE sync_marks SET message_rowid = 0, join_rowid = 0, join_message_id = 0, "
    "join_chat_id = 0",
    "UPDATE left_out_counts SET reactions = 0, events = 0, junk = 0, unsent = 0",
};

int64_t nowInWholeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

ShadowSyncTables::Watermark ShadowSyncTables::watermark() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectWatermark);
        Watermark watermark;
        if (query.step()) {
            watermark.timestamp = query.columnInt64(0);
            watermark.rowid = query.columnInt64(1);
        }
        return watermark;
    });
}

void ShadowSyncTables::storeState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount) {
    connection_.guarded([&] {
        sqlite::Statement update = connection_.db().prepare(kUpdateSyncState);
        update.bindInt64(1, lastTimestamp);
        update.bindInt64(2, lastRowid);
        update.bindInt64(3, messageCount);
        update.bindInt64(4, nowInWholeSeconds());
        update.run();
    });
}

ShadowSyncTables::SyncMarks ShadowSyncTables::marks() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectSyncMarks);
        SyncMarks marks;
        if (query.step()) {
            marks.messageRowid = query.columnInt64(0);
            marks.joinRowid = query.columnInt64(1);
            marks.joinMessageId = query.columnInt64(2);
            marks.joinChatId = query.columnInt64(3);
        }
        if (connection_.hasTable("left_out_counts")) {
            sqlite::Statement leftOut = connection_.db().prepare(kSelectLeftOut);
            if (leftOut.step()) {
                marks.leftOut = {leftOut.columnInt64(0), leftOut.columnInt64(1),
                                 leftOut.columnInt64(2), leftOut.columnInt64(3)};
            }
        }
        return marks;
    });
}

void ShadowSyncTables::storeMarks(const SyncMarks& marks) {
    connection_.guarded([&] {
        sqlite::Statement update = connection_.db().prepare(kUpdateSyncMarks);
        update.bindInt64(1, marks.messageRowid);
        update.bindInt64(2, marks.joinRowid);
        update.bindInt64(3, marks.joinMessageId);
        update.bindInt64(4, marks.joinChatId);
        update.run();
        sqlite::Statement leftOut = connection_.db().prepare(kUpdateLeftOut);
        leftOut.bindInt64(1, marks.leftOut.reactions);
        leftOut.bindInt64(2, marks.leftOut.events);
        leftOut.bindInt64(3, marks.leftOut.junk);
        leftOut.bindInt64(4, marks.leftOut.unsent);
        leftOut.run();
    });
}

std::optional<ShadowSyncTables::SyncSource> ShadowSyncTables::source() {
    return connection_.guarded([&]() -> std::optional<SyncSource> {
        sqlite::Statement query = connection_.db().prepare(kSelectSyncSource);
        if (!query.step()) {
            return std::nullopt;
        }
        return SyncSource{query.columnText(0), query.columnInt64(1), query.columnOptionalText(2)};
    });
}

void ShadowSyncTables::storeSource(const SyncSource& source) {
    connection_.guarded([&] {
        sqlite::Statement store = connection_.db().prepare(kStoreSyncSource);
        store.bindText(1, source.storePath);
        store.bindInt64(2, source.anchorRowid);
        store.bindOptionalText(3, source.anchorGuid);
        store.run();
    });
}

ShadowSyncTables::DeletionMarks ShadowSyncTables::deletionMarks() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectDeletionMarks);
        DeletionMarks marks;
        if (query.step()) {
            marks = {query.columnInt64(0), query.columnInt64(1), query.columnInt64(2),
                     query.columnInt64(3) != 0, query.columnInt64(4) != 0};
        }
        return marks;
    });
}

void ShadowSyncTables::storeDeletionMarks(const DeletionMarks& marks) {
    connection_.guarded([&] {
        sqlite::Statement store = connection_.db().prepare(kStoreDeletionMarks);
        store.bindInt64(1, marks.tombstoneRowid);
        store.bindInt64(2, marks.storeRows);
        store.bindInt64(3, marks.storeMaxRowid);
        store.bindInt(4, marks.includeJunk ? 1 : 0);
        store.bindInt(5, marks.rereadAll ? 1 : 0);
        store.run();
    });
}

std::vector<std::pair<int64_t, std::string>> ShadowSyncTables::recentlyDeletedRows() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectRecentlyDeleted);
        std::vector<std::pair<int64_t, std::string>> rows;
        while (query.step()) {
            rows.emplace_back(query.columnInt64(0), query.columnText(1));
        }
        return rows;
    });
}

void ShadowSyncTables::replaceRecentlyDeletedRows(
    const std::vector<std::pair<int64_t, std::string>>& rows) {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle());
        sqlite::exec(connection_.handle(), kClearRecentlyDeleted);
        sqlite::Statement insert = connection_.db().prepare(kInsertRecentlyDeleted);
        for (const auto& [rowid, guid] : rows) {
            insert.reset();
            insert.bindInt64(1, rowid);
            insert.bindText(2, guid);
            insert.run();
        }
        insert.finalize();
        transaction.commit();
    });
}

bool ShadowSyncTables::membershipsComplete() {
    return connection_.guarded([&] {
        if (!connection_.hasTable("message_chats_state")) {
            return true;
        }
        sqlite::Statement query = connection_.db().prepare(kMembershipsComplete);
        return !query.step() || query.columnInt64(0) != 0;
    });
}

void ShadowSyncTables::markMembershipsComplete() {
    connection_.guarded([&] { sqlite::exec(connection_.handle(), kMarkMembershipsComplete); });
}

std::set<std::string> ShadowSyncTables::excludedChatKeys() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectExcludedChats);
        std::set<std::string> keys;
        while (query.step()) {
            keys.insert(query.columnText(0));
        }
        return keys;
    });
}

void ShadowSyncTables::replaceExcludedChatKeys(const std::set<std::string>& keys) {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle());
        sqlite::exec(connection_.handle(), kClearExcludedChats);
        sqlite::Statement insert = connection_.db().prepare(kInsertExcludedChat);
        for (const std::string& key : keys) {
            insert.reset();
            insert.bindText(1, key);
            insert.run();
        }
        insert.finalize();
        transaction.commit();
    });
}

void ShadowSyncTables::resetCursor() {
    connection_.guarded([&] {
        for (std::string_view statement : kResetCursor) {
            sqlite::exec(connection_.handle(), statement);
        }
    });
}

} // namespace orlune::core
