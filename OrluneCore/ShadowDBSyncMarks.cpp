// The shadow database's part in the sync engine's catch-up checks: the
// sync_marks row, pages committed together with the cursor, and the
// comparison of rows read again from the store with the stored copies.

#include "OrluneCore/ShadowDB.hpp"

#include <unordered_map>

namespace orlune::core {

namespace {

constexpr std::string_view kSelectSyncMarks =
    "SELECT message_rowid, join_rowid, join_message_id, join_chat_id FROM sync_marks WHERE id = 1";

constexpr std::string_view kUpdateSyncMarks =
    "UPDATE sync_marks\n"
    "SET message_rowid = ?, join_rowid = ?, join_message_id = ?, join_chat_id = ?\n"
    "WHERE id = 1";

constexpr std::string_view kSelectStoredMessage =
    "SELECT chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages WHERE guid = ?";

struct Stored {
    std::string chatId;
    std::optional<std::string> chatName;
    std::string sender;
    std::string text;
    int64_t timestamp = 0;
    bool isFromMe = false;
    bool isGroup = false;
};

bool sameContent(const Stored& stored, const ShadowMessage& message) {
    return stored.chatId == message.chatId() && stored.chatName == message.chatName() &&
           stored.sender == message.sender() && stored.text == message.text() &&
           stored.timestamp == message.timestamp() && stored.isFromMe == message.isFromMe() &&
           stored.isGroup == message.isGroup();
}

} // namespace

ShadowDB::BatchResult ShadowDB::commitSyncPage(const std::vector<ShadowMessage>& messages,
                                               const Watermark& cursor, int64_t countBefore,
                                               const SyncMarks& marks) {
    return insertMessages(messages, true, [&](const BatchResult& batch) {
        updateSyncState(cursor.timestamp, cursor.rowid, countBefore + batch.countGrowth);
        sqlite::Statement update = prepare(kUpdateSyncMarks);
        update.bindInt64(1, marks.messageRowid);
        update.bindInt64(2, marks.joinRowid);
        update.bindInt64(3, marks.joinMessageId);
        update.bindInt64(4, marks.joinChatId);
        if (update.step() != SQLITE_DONE) {
            throw Error(Error::Kind::queryFailed, db_.errorMessage());
        }
    });
}

ShadowDB::SyncMarks ShadowDB::syncMarks() {
    sqlite::Statement query = prepare(kSelectSyncMarks);
    SyncMarks marks;
    if (query.step() == SQLITE_ROW) {
        marks.messageRowid = query.columnInt64(0);
        marks.joinRowid = query.columnInt64(1);
        marks.joinMessageId = query.columnInt64(2);
        marks.joinChatId = query.columnInt64(3);
    }
    return marks;
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

    sqlite::Statement lookup = prepare(kSelectStoredMessage);
    std::vector<ShadowMessage> toWrite;
    for (const std::string& guid : order) {
        const auto& rows = byGuid[guid];
        lookup.reset();
        lookup.bindText(1, guid);
        const int rc = lookup.step();
        if (rc != SQLITE_ROW) {
            if (rc != SQLITE_DONE) {
                throw Error(Error::Kind::queryFailed, db_.errorMessage());
            }
            toWrite.push_back(*rows.back());
            continue;
        }
        Stored stored{lookup.columnText(0),      lookup.columnOptionalText(1),
                      lookup.columnText(2),      lookup.columnText(3),
                      lookup.columnInt64(4),     lookup.columnInt64(5) != 0,
                      lookup.columnInt64(6) != 0};
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
}

} // namespace orlune::core
