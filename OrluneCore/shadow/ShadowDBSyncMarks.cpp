// The shadow database's part in the sync engine's catch-up checks: pages
// committed together with the cursor, the marks and the store they come
// from, and the comparison of rows read again from the store with the stored
// copies.

#include "shadow/ShadowBatchTable.hpp"
#include "shadow/ShadowDB.hpp"

#include <unordered_map>

namespace orlune::core {

namespace {

constexpr std::string_view kUpdateSyncMarks =
    "UPDATE sync_marks\n"
    "SET message_rowid = ?, join_rowid = ?, join_message_id = ?, join_chat_id = ?\n"
    "WHERE id = 1";

constexpr std::string_view kSelectSyncSource =
    "SELECT store_path, anchor_rowid, anchor_guid FROM sync_source WHERE id = 1";

constexpr std::string_view kStoreSyncSource =
    "INSERT OR REPLACE INTO sync_source (id, store_path, anchor_rowid, anchor_guid)\n"
    "VALUES (1, ?, ?, ?)";

constexpr std::string_view kSelectStoredMessage =
    "SELECT chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    "       attachment_types, edited_at\n"
    "FROM messages WHERE guid = ?";

struct Stored {
    std::string chatId;
    std::optional<std::string> chatName;
    std::string sender;
    std::string text;
    int64_t timestamp = 0;
    bool isFromMe = false;
    bool isGroup = false;
    std::optional<std::string> attachmentTypes;
    std::optional<int64_t> editedAt;
};

bool sameContent(const Stored& stored, const ShadowMessage& message) {
    const std::optional<std::string> types =
        message.attachmentTypes().empty()
            ? std::nullopt
            : std::optional<std::string>(
                  ShadowBatchTable::renderAttachmentTypes(message.attachmentTypes()));
    return stored.attachmentTypes == types && stored.editedAt == message.editedAt() &&
           stored.chatId == message.chatId() && stored.chatName == message.chatName() &&
           stored.sender == message.sender() && stored.text == message.text() &&
           stored.timestamp == message.timestamp() && stored.isFromMe == message.isFromMe() &&
           stored.isGroup == message.isGroup();
}

} // namespace

ShadowDB::BatchResult ShadowDB::commitSyncPage(const std::vector<ShadowMessage>& messages,
                                               const Watermark& cursor, int64_t countBefore,
                                               const SyncMarks& marks, const SyncSource& source,
                                               const PageChanges& changes) {
    int64_t removed = 0;
    BatchResult result = insertMessages(messages, true, [&](const BatchResult& batch) {
        writeAttachments(messages);
        removed = applyPageChanges(changes);
        updateSyncState(cursor.timestamp, cursor.rowid, countBefore + batch.countGrowth - removed);
        sqlite::Statement update = db_.prepare(kUpdateSyncMarks);
        update.bindInt64(1, marks.messageRowid);
        update.bindInt64(2, marks.joinRowid);
        update.bindInt64(3, marks.joinMessageId);
        update.bindInt64(4, marks.joinChatId);
        update.run();
        sqlite::Statement store = db_.prepare(kStoreSyncSource);
        store.bindText(1, source.storePath);
        store.bindInt64(2, source.anchorRowid);
        store.bindOptionalText(3, source.anchorGuid);
        store.run();
    });
    result.countGrowth -= removed;
    result.removed = removed;
    return result;
}

std::optional<ShadowDB::SyncSource> ShadowDB::syncSource() {
    return guarded([&]() -> std::optional<SyncSource> {
        sqlite::Statement query = db_.prepare(kSelectSyncSource);
        if (!query.step()) {
            return std::nullopt;
        }
        return SyncSource{query.columnText(0), query.columnInt64(1), query.columnOptionalText(2)};
    });
}

std::vector<ShadowMessage> ShadowDB::messagesToWrite(const std::vector<ShadowMessage>& candidates) {
    // Rows of one guid, in the order read; guids in order of first appearance.
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<const ShadowMessage*>> byGuid;
    for (const ShadowMessage& message : candidates) {
        auto [entry, added] = byGuid.try_emplace(message.guid());
        if (added) {
            order.push_back(message.guid());
        }
        entry->second.push_back(&message);
    }

    return guarded([&] {
        sqlite::Statement lookup = db_.prepare(kSelectStoredMessage);
        std::vector<ShadowMessage> toWrite;
        for (const std::string& guid : order) {
            const auto& rows = byGuid[guid];
            lookup.reset();
            lookup.bindText(1, guid);
            if (!lookup.step()) {
                toWrite.push_back(*rows.back());
                continue;
            }
            Stored stored{lookup.columnText(0),
                          lookup.columnOptionalText(1),
                          lookup.columnText(2),
                          lookup.columnText(3),
                          lookup.columnInt64(4),
                          lookup.columnInt64(5) != 0,
                          lookup.columnInt64(6) != 0,
                          lookup.columnOptionalText(7),
                          lookup.isNull(8) ? std::nullopt
                                           : std::optional<int64_t>(lookup.columnInt64(8))};
            const ShadowMessage* sameChat = nullptr;
            for (const ShadowMessage* row : rows) {
                if (row->chatId() == stored.chatId) {
                    sameChat = row;
                }
            }
            if (sameChat != nullptr && sameContent(stored, *sameChat)) {
                continue;
            }
            toWrite.push_back(sameChat != nullptr ? *sameChat : *rows.back());
        }
        return toWrite;
    });
}

} // namespace orlune::core
