// The shadow database's reactions, attachments and deletions: what a sync
// page writes besides its messages, and the clean-up after deletions.

#include "base/EmojiText.hpp"
#include "base/SpacelessText.hpp"
#include "shadow/ShadowDB.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace orlune::core {

namespace {

constexpr std::string_view kInsertAttachment =
    "INSERT OR REPLACE INTO attachments\n"
    "(message_guid, position, guid, kind, name, mime_type, uti, bytes, downloaded, is_sticker,\n"
    " hidden)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// A reaction replaces the stored one of its sender and kind unless that one
// is newer (a row read again after its removal must not bring it back over a
// later addition).
constexpr std::string_view kUpsertReaction =
    "INSERT INTO reactions (target_guid, sender, kind, emoji, timestamp, guid)\n"
    "VALUES (?, ?, ?, ?, ?, ?)\n"
    "ON CONFLICT (target_guid, sender, kind) DO UPDATE SET\n"
    "    emoji = excluded.emoji, timestamp = excluded.timestamp, guid = excluded.guid\n"
    "WHERE excluded.timestamp >= reactions.timestamp";
constexpr std::string_view kRemoveReaction =
    "DELETE FROM reactions WHERE target_guid = ? AND sender = ? AND kind = ? AND timestamp <= ?";

constexpr std::string_view kDeleteMessage = "DELETE FROM messages WHERE guid = ?";
constexpr std::string_view kDeleteReactionsOf =
    "DELETE FROM reactions WHERE target_guid = ?1 OR guid = ?1";

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
constexpr std::string_view kStoredGuids =
    "SELECT guid FROM messages UNION ALL SELECT guid FROM reactions";

constexpr std::string_view kClearCopies[] = {
    "DELETE FROM reactions",
    "DELETE FROM attachments",
    "DELETE FROM messages",
    "UPDATE sync_state SET last_timestamp = 0, last_rowid = 0, message_count = 0",
    "UPDATE sync_marks SET message_rowid = 0, join_rowid = 0, join_message_id = 0, "
    "join_chat_id = 0",
};

constexpr std::string_view kStoredReaction =
    "SELECT guid, timestamp FROM reactions WHERE target_guid = ? AND sender = ? AND kind = ?";
constexpr std::string_view kGuidStored =
    "SELECT 1 FROM messages WHERE guid = ?1 UNION ALL SELECT 1 FROM reactions WHERE guid = ?1 "
    "OR target_guid = ?1";
constexpr std::string_view kMessageStored = "SELECT 1 FROM messages WHERE guid = ?";
constexpr std::string_view kRecentTexts =
    "SELECT guid, text FROM messages WHERE chat_id = ? AND timestamp <= ?\n"
    "ORDER BY timestamp DESC LIMIT ?";

constexpr std::string_view kChatsOfMessage =
    "SELECT chat_id FROM message_chats WHERE message_guid = ? ORDER BY chat_id";
constexpr std::string_view kClearChatsOfMessage =
    "DELETE FROM message_chats WHERE message_guid = ?";
constexpr std::string_view kInsertChatOfMessage =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id) VALUES (?, ?)";
constexpr std::string_view kMembershipsComplete =
    "SELECT complete FROM message_chats_state WHERE id = 1";
constexpr std::string_view kMarkMembershipsComplete =
    "INSERT OR REPLACE INTO message_chats_state (id, complete) VALUES (1, 1)";

constexpr std::string_view kOptimizeIndex =
    "INSERT INTO messages_fts(messages_fts) VALUES ('optimize')";
constexpr std::string_view kOptimizeNamesIndex =
    "INSERT INTO attachment_names_fts(attachment_names_fts) VALUES ('optimize')";
constexpr std::string_view kOptimizeSpacedIndex =
    "INSERT INTO spaced_fts(spaced_fts) VALUES ('optimize')";

constexpr std::string_view kReactionsOn =
    "SELECT r.sender, r.kind, r.emoji, r.timestamp, p.display_name\n"
    "FROM reactions r\n"
    "LEFT JOIN person_handles ph ON ph.handle = r.sender\n"
    "LEFT JOIN people p ON p.person_id = ph.person_id\n"
    "WHERE r.target_guid = ?\n"
    "ORDER BY r.timestamp, r.sender, r.kind";
constexpr std::string_view kAttachmentsOf =
    "SELECT guid, kind, name, mime_type, uti, bytes, downloaded, is_sticker, hidden\n"
    "FROM attachments WHERE message_guid = ? ORDER BY position";
constexpr std::string_view kHasTable =
    "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?";

} // namespace

bool ShadowDBReader::hasTable(std::string_view name) {
    return guarded([&] {
        sqlite::Statement has = db_.prepare(kHasTable);
        has.bindText(1, std::string(name));
        return has.step() && has.columnInt64(0) > 0;
    });
}

std::vector<StoredReaction> ShadowDBReader::reactionsOn(const std::string& guid) {
    return guarded([&] {
        std::vector<StoredReaction> reactions;
        if (!hasTable("reactions")) {
            return reactions;
        }
        sqlite::Statement query = db_.prepare(kReactionsOn);
        query.bindText(1, guid);
        while (query.step()) {
            reactions.push_back(StoredReaction{query.columnText(0), query.columnText(1),
                                               query.columnOptionalText(2), query.columnInt64(3),
                                               query.columnOptionalText(4)});
        }
        return reactions;
    });
}

std::vector<ShadowAttachment> ShadowDBReader::attachmentsOf(const std::string& guid) {
    return guarded([&] {
        std::vector<ShadowAttachment> attachments;
        if (!hasTable("attachments")) {
            return attachments;
        }
        sqlite::Statement query = db_.prepare(kAttachmentsOf);
        query.bindText(1, guid);
        while (query.step()) {
            ShadowAttachment attachment;
            attachment.guid = query.columnText(0);
            attachment.kind = query.columnText(1);
            attachment.name = query.columnOptionalText(2);
            attachment.mimeType = query.columnOptionalText(3);
            attachment.uti = query.columnOptionalText(4);
            attachment.bytes = query.columnInt64(5);
            attachment.downloaded = query.columnInt64(6) != 0;
            attachment.sticker = query.columnInt64(7) != 0;
            attachment.hidden = query.columnInt64(8) != 0;
            attachments.push_back(std::move(attachment));
        }
        return attachments;
    });
}

void ShadowDB::writeAttachments(const std::vector<ShadowMessage>& messages) {
    std::optional<sqlite::Statement> insert;
    for (const ShadowMessage& message : messages) {
        for (size_t position = 0; position < message.attachments().size(); ++position) {
            if (!insert) {
                insert = db_.prepare(kInsertAttachment);
            }
            const ShadowAttachment& attachment = message.attachments()[position];
            insert->reset();
            insert->clearBindings();
            insert->bindText(1, message.guid());
            insert->bindInt64(2, static_cast<int64_t>(position));
            insert->bindText(3, attachment.guid);
            insert->bindText(4, attachment.kind);
            insert->bindOptionalText(5, attachment.name);
            insert->bindOptionalText(6, attachment.mimeType);
            insert->bindOptionalText(7, attachment.uti);
            insert->bindInt64(8, attachment.bytes);
            insert->bindInt(9, attachment.downloaded ? 1 : 0);
            insert->bindInt(10, attachment.sticker ? 1 : 0);
            insert->bindInt(11, attachment.hidden ? 1 : 0);
            insert->run();
        }
    }
}

void ShadowDB::writeEmoji(const std::vector<ShadowMessage>& messages) {
    std::optional<sqlite::Statement> insert;
    for (const ShadowMessage& message : messages) {
        for (const std::string& emoji : EmojiText::indexKeys(message.text())) {
            if (!insert) {
                insert = db_.prepare(shadow_schema::kInsertMessageEmoji);
            }
            insert->reset();
            insert->bindText(1, emoji);
            insert->bindText(2, message.guid());
            insert->run();
        }
    }
}

void ShadowDB::writeSpacedTexts(const std::vector<ShadowMessage>& messages) {
    std::optional<sqlite::Statement> insert;
    for (const ShadowMessage& message : messages) {
        if (!SpacelessText::contains(message.text())) {
            continue;
        }
        if (!insert) {
            insert = db_.prepare(shadow_schema::kInsertSpacedText);
        }
        insert->reset();
        insert->bindText(1, SpacelessText::spaced(message.text()));
        insert->bindText(2, message.guid());
        insert->run();
    }
}

int64_t ShadowDB::applyPageChanges(const PageChanges& changes) {
    if (!changes.reactions.empty()) {
        sqlite::Statement upsert = db_.prepare(kUpsertReaction);
        sqlite::Statement remove = db_.prepare(kRemoveReaction);
        for (const StoreReaction& reaction : changes.reactions) {
            sqlite::Statement& statement = reaction.removal ? remove : upsert;
            statement.reset();
            statement.clearBindings();
            statement.bindText(1, reaction.targetGuid);
            statement.bindText(2, reaction.sender);
            statement.bindText(3, reaction.kind);
            if (reaction.removal) {
                statement.bindInt64(4, reaction.timestamp);
            } else {
                statement.bindOptionalText(4, reaction.emoji);
                statement.bindInt64(5, reaction.timestamp);
                statement.bindText(6, reaction.guid);
            }
            statement.run();
        }
    }
    if (!changes.memberships.empty()) {
        sqlite::Statement clear = db_.prepare(kClearChatsOfMessage);
        sqlite::Statement insert = db_.prepare(kInsertChatOfMessage);
        for (const auto& [guid, chats] : changes.memberships) {
            clear.reset();
            clear.bindText(1, guid);
            clear.run();
            for (const std::string& chat : chats) {
                insert.reset();
                insert.bindText(1, guid);
                insert.bindText(2, chat);
                insert.run();
            }
        }
    }
    int64_t removed = 0;
    if (!changes.notMessages.empty()) {
        sqlite::Statement deleteMessage = db_.prepare(kDeleteMessage);
        for (const std::string& guid : changes.notMessages) {
            deleteMessage.reset();
            deleteMessage.bindText(1, guid);
            deleteMessage.run();
            removed += sqlite3_changes(handle());
        }
    }
    if (!changes.removedGuids.empty()) {
        sqlite::Statement deleteMessage = db_.prepare(kDeleteMessage);
        sqlite::Statement deleteReactions = db_.prepare(kDeleteReactionsOf);
        for (const std::string& guid : changes.removedGuids) {
            deleteMessage.reset();
            deleteMessage.bindText(1, guid);
            deleteMessage.run();
            removed += sqlite3_changes(handle());
            deleteReactions.reset();
            deleteReactions.bindText(1, guid);
            deleteReactions.run();
        }
    }
    return removed;
}

ShadowDB::PageChanges ShadowDB::changesToApply(const PageChanges& changes) {
    return guarded([&] {
        // Only the last event for each target, sender and kind counts.
        PageChanges pending;
        std::map<std::tuple<std::string, std::string, std::string>, size_t> last;
        for (size_t i = 0; i < changes.reactions.size(); ++i) {
            const StoreReaction& reaction = changes.reactions[i];
            last[{reaction.targetGuid, reaction.sender, reaction.kind}] = i;
        }
        std::vector<size_t> order;
        for (const auto& [key, index] : last) {
            order.push_back(index);
        }
        std::sort(order.begin(), order.end());
        sqlite::Statement stored = db_.prepare(kStoredReaction);
        for (size_t index : order) {
            const StoreReaction& reaction = changes.reactions[index];
            stored.reset();
            stored.bindText(1, reaction.targetGuid);
            stored.bindText(2, reaction.sender);
            stored.bindText(3, reaction.kind);
            const bool present = stored.step();
            bool differs = false;
            if (reaction.removal) {
                differs = present && stored.columnInt64(1) <= reaction.timestamp;
            } else {
                differs = !present || (stored.columnText(0) != reaction.guid &&
                                       stored.columnInt64(1) <= reaction.timestamp);
            }
            if (differs) {
                pending.reactions.push_back(reaction);
            }
        }
        sqlite::Statement message = db_.prepare(kMessageStored);
        for (const std::string& guid : changes.notMessages) {
            message.reset();
            message.bindText(1, guid);
            if (message.step()) {
                pending.notMessages.push_back(guid);
            }
        }
        sqlite::Statement present = db_.prepare(kGuidStored);
        for (const std::string& guid : changes.removedGuids) {
            present.reset();
            present.bindText(1, guid);
            if (present.step()) {
                pending.removedGuids.push_back(guid);
            }
        }
        return pending;
    });
}

std::vector<std::pair<std::string, std::vector<std::string>>>
ShadowDB::membershipsToWrite(const std::vector<ShadowMessage>& candidates,
                             const std::vector<ShadowMessage>& written) {
    // Each guid's chats, sorted, in order of first appearance.
    std::vector<std::pair<std::string, std::vector<std::string>>> all;
    std::map<std::string, size_t> index;
    for (const ShadowMessage& message : candidates) {
        auto [entry, added] = index.try_emplace(message.guid(), all.size());
        if (added) {
            all.emplace_back(message.guid(), std::vector<std::string>{});
        }
        std::vector<std::string>& chats = all[entry->second].second;
        if (message.chatId() != kNoChatId &&
            std::find(chats.begin(), chats.end(), message.chatId()) == chats.end()) {
            chats.push_back(message.chatId());
        }
    }
    for (auto& [guid, chats] : all) {
        std::sort(chats.begin(), chats.end());
    }
    return guarded([&] {
        std::vector<std::pair<std::string, std::vector<std::string>>> toWrite;
        if (!hasTable("message_chats")) {
            return toWrite;
        }
        std::set<std::string> rewritten;
        for (const ShadowMessage& message : written) {
            rewritten.insert(message.guid());
        }
        sqlite::Statement stored = db_.prepare(kChatsOfMessage);
        for (auto& [guid, chats] : all) {
            if (!rewritten.count(guid)) {
                stored.reset();
                stored.bindText(1, guid);
                std::vector<std::string> now;
                while (stored.step()) {
                    now.push_back(stored.columnText(0));
                }
                if (now == chats) {
                    continue;
                }
            }
            toWrite.emplace_back(guid, std::move(chats));
        }
        return toWrite;
    });
}

bool ShadowDB::membershipsComplete() {
    return guarded([&] {
        if (!hasTable("message_chats_state")) {
            return true;
        }
        sqlite::Statement query = db_.prepare(kMembershipsComplete);
        return !query.step() || query.columnInt64(0) != 0;
    });
}

void ShadowDB::markMembershipsComplete() {
    guarded([&] { sqlite::exec(handle(), kMarkMembershipsComplete); });
}

std::vector<std::pair<std::string, std::string>>
ShadowDB::recentTexts(const std::string& chatId, int64_t timestamp, int limit) {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kRecentTexts);
        query.bindText(1, chatId);
        query.bindInt64(2, timestamp);
        query.bindInt(3, limit);
        std::vector<std::pair<std::string, std::string>> rows;
        while (query.step()) {
            rows.emplace_back(query.columnText(0), query.columnText(1));
        }
        return rows;
    });
}

ShadowDB::DeletionMarks ShadowDB::deletionMarks() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kSelectDeletionMarks);
        DeletionMarks marks;
        if (query.step()) {
            marks = {query.columnInt64(0), query.columnInt64(1), query.columnInt64(2),
                     query.columnInt64(3) != 0, query.columnInt64(4) != 0};
        }
        return marks;
    });
}

void ShadowDB::storeDeletionMarks(const DeletionMarks& marks) {
    guarded([&] {
        sqlite::Statement store = db_.prepare(kStoreDeletionMarks);
        store.bindInt64(1, marks.tombstoneRowid);
        store.bindInt64(2, marks.storeRows);
        store.bindInt64(3, marks.storeMaxRowid);
        store.bindInt(4, marks.includeJunk ? 1 : 0);
        store.bindInt(5, marks.rereadAll ? 1 : 0);
        store.run();
    });
}

std::vector<std::pair<int64_t, std::string>> ShadowDB::recentlyDeletedRows() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kSelectRecentlyDeleted);
        std::vector<std::pair<int64_t, std::string>> rows;
        while (query.step()) {
            rows.emplace_back(query.columnInt64(0), query.columnText(1));
        }
        return rows;
    });
}

void ShadowDB::replaceRecentlyDeletedRows(
    const std::vector<std::pair<int64_t, std::string>>& rows) {
    guarded([&] {
        sqlite::Transaction transaction(handle());
        sqlite::exec(handle(), kClearRecentlyDeleted);
        sqlite::Statement insert = db_.prepare(kInsertRecentlyDeleted);
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

std::vector<std::string> ShadowDB::storedGuids() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kStoredGuids);
        std::vector<std::string> guids;
        while (query.step()) {
            guids.push_back(query.columnText(0));
        }
        return guids;
    });
}

bool ShadowDB::purgeDeletedContent() {
    guarded([&] {
        sqlite::exec(handle(), kOptimizeIndex);
        if (hasTable("attachment_names_fts")) {
            sqlite::exec(handle(), kOptimizeNamesIndex);
        }
        if (hasTable("spaced_fts")) {
            sqlite::exec(handle(), kOptimizeSpacedIndex);
        }
    });
    int logFrames = 0;
    int checkpointed = 0;
    const int rc = sqlite3_wal_checkpoint_v2(handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                             &logFrames, &checkpointed);
    return rc == SQLITE_OK;
}

void ShadowDB::clearCopiedMessages() {
    guarded([&] {
        sqlite::Transaction transaction(handle());
        for (std::string_view statement : kClearCopies) {
            sqlite::exec(handle(), statement);
        }
        transaction.commit();
    });
}

} // namespace orlune::core
