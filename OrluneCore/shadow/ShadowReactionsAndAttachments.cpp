// The reactions and attachments tables: what a sync page writes beside its
// messages, and what a reader shows with a message.

#include "shadow/ShadowReactionsAndAttachments.hpp"

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
constexpr std::string_view kDeleteReactionsOf =
    "DELETE FROM reactions WHERE target_guid = ?1 OR guid = ?1";
constexpr std::string_view kReactionGuids = "SELECT guid FROM reactions";
constexpr std::string_view kStoredReaction =
    "SELECT guid, timestamp FROM reactions WHERE target_guid = ? AND sender = ? AND kind = ?";
constexpr std::string_view kReactionMentions =
    "SELECT 1 FROM reactions WHERE guid = ?1 OR target_guid = ?1";
constexpr std::string_view kClear[] = {"DELETE FROM reactions", "DELETE FROM attachments"};

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

} // namespace

std::vector<StoredReaction> ShadowReactionsAndAttachments::reactionsOn(const std::string& guid) {
    return connection_.guarded([&] {
        std::vector<StoredReaction> reactions;
        if (!connection_.hasTable("reactions")) {
            return reactions;
        }
        sqlite::Statement query = connection_.db().prepare(kReactionsOn);
        query.bindText(1, guid);
        while (query.step()) {
            reactions.push_back(StoredReaction{query.columnText(0), query.columnText(1),
                                               query.columnOptionalText(2), query.columnInt64(3),
                                               query.columnOptionalText(4)});
        }
        return reactions;
    });
}

std::vector<ShadowAttachment>
ShadowReactionsAndAttachments::attachmentsOf(const std::string& guid) {
    return connection_.guarded([&] {
        std::vector<ShadowAttachment> attachments;
        if (!connection_.hasTable("attachments")) {
            return attachments;
        }
        sqlite::Statement query = connection_.db().prepare(kAttachmentsOf);
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

std::vector<std::string> ShadowReactionsAndAttachments::reactionGuids() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kReactionGuids);
        std::vector<std::string> guids;
        while (query.step()) {
            guids.push_back(query.columnText(0));
        }
        return guids;
    });
}

std::vector<std::optional<std::pair<std::string, int64_t>>>
ShadowReactionsAndAttachments::storedReactions(const std::vector<ReactionKey>& keys) {
    return connection_.guarded([&] {
        sqlite::Statement stored = connection_.db().prepare(kStoredReaction);
        std::vector<std::optional<std::pair<std::string, int64_t>>> found;
        found.reserve(keys.size());
        for (const auto& [target, sender, kind] : keys) {
            stored.reset();
            stored.bindText(1, target);
            stored.bindText(2, sender);
            stored.bindText(3, kind);
            if (stored.step()) {
                found.emplace_back(std::in_place, stored.columnText(0), stored.columnInt64(1));
            } else {
                found.emplace_back();
            }
        }
        return found;
    });
}

std::vector<bool> ShadowReactionsAndAttachments::mentioned(const std::vector<std::string>& guids) {
    return connection_.guarded([&] {
        sqlite::Statement present = connection_.db().prepare(kReactionMentions);
        std::vector<bool> found;
        found.reserve(guids.size());
        for (const std::string& guid : guids) {
            present.reset();
            present.bindText(1, guid);
            found.push_back(present.step());
        }
        return found;
    });
}

void ShadowReactionsAndAttachments::writeAttachments(const std::vector<ShadowMessage>& messages) {
    connection_.guarded([&] {
        std::optional<sqlite::Statement> insert;
        for (const ShadowMessage& message : messages) {
            for (size_t position = 0; position < message.attachments().size(); ++position) {
                if (!insert) {
                    insert = connection_.db().prepare(kInsertAttachment);
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
    });
}

void ShadowReactionsAndAttachments::apply(const std::vector<StoreReaction>& reactions) {
    if (reactions.empty()) {
        return;
    }
    connection_.guarded([&] {
        sqlite::Statement upsert = connection_.db().prepare(kUpsertReaction);
        sqlite::Statement remove = connection_.db().prepare(kRemoveReaction);
        for (const StoreReaction& reaction : reactions) {
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
    });
}

void ShadowReactionsAndAttachments::removeMentioning(const std::vector<std::string>& guids) {
    if (guids.empty()) {
        return;
    }
    connection_.guarded([&] {
        sqlite::Statement deleteReactions = connection_.db().prepare(kDeleteReactionsOf);
        for (const std::string& guid : guids) {
            deleteReactions.reset();
            deleteReactions.bindText(1, guid);
            deleteReactions.run();
        }
    });
}

void ShadowReactionsAndAttachments::clear() {
    connection_.guarded([&] {
        for (std::string_view statement : kClear) {
            sqlite::exec(connection_.handle(), statement);
        }
    });
}

} // namespace orlune::core
