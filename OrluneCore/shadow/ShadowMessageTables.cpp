// The messages table with message_chats, message_emoji and spaced_texts:
// batches written with one statement, the messages around one message, the
// stored copies a sync compares with.

#include "shadow/ShadowMessageTables.hpp"

#include "base/EmojiText.hpp"
#include "base/SpacelessText.hpp"
#include "shadow/ShadowBatchTable.hpp"
#include "shadow/ShadowSchema.hpp"
#include "sql/ResultBudget.hpp"
#include "sql/StatementLimits.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

using Error = ShadowDBError;

constexpr std::string_view kCountMessages =
    "SELECT COUNT(*) FROM messages WHERE deleted_at IS NULL";

constexpr std::string_view kInsertMessage =
    "INSERT OR REPLACE INTO messages\n"
    "(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    " has_attachments, attachment_types, content_hash, thread_originator_guid)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The batch, from the table-valued function over the caller's list, in list
// order.
constexpr std::string_view kWriteBatch =
    "INSERT OR REPLACE INTO messages\n"
    "(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    " has_attachments, attachment_types, content_hash, edited_at, thread_originator_guid)\n"
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    "       has_attachments, attachment_types, content_hash, edited_at, thread_originator_guid\n"
    "FROM orlune_shadow_batch(?) ORDER BY seq";
// The chats of the messages just written (their earlier rows went with the
// replaced copies).
constexpr std::string_view kWriteBatchChats =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id)\n"
    "SELECT guid, chat_id FROM orlune_shadow_batch(?) WHERE chat_id <> 'unknown'";
// The spaced texts of the messages just written: the batch holds each
// message's guid with its spaced text.
constexpr std::string_view kWriteBatchSpacedTexts =
    "INSERT OR REPLACE INTO spaced_texts (id, text)\n"
    "SELECT m.rowid, b.text\n"
    "FROM orlune_shadow_batch(?) b CROSS JOIN messages m ON m.guid = b.guid\n"
    "ORDER BY b.seq";

// Counts, on this connection only, the live rows that INSERT OR REPLACE
// deletes (recursive triggers are on, so REPLACE's deletes fire triggers):
// the growth of the live count is then the batch size minus that number,
// with no per-message probe. A row replaced by a later copy in the same batch
// counts too, as it should.
constexpr const char* kCountReplacedFunction = "orlune_shadow_note_replaced";
constexpr std::string_view kCreateReplacedTrigger =
    "CREATE TEMP TRIGGER IF NOT EXISTS orlune_shadow_replaced\n"
    "AFTER DELETE ON main.messages WHEN old.deleted_at IS NULL BEGIN\n"
    "    SELECT orlune_shadow_note_replaced();\n"
    "END";

void noteReplaced(sqlite3_context* context, int, sqlite3_value**) {
    ++*static_cast<int64_t*>(sqlite3_user_data(context));
    sqlite3_result_null(context);
}

constexpr std::string_view kSelectStoredMessage =
    "SELECT chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    "       attachment_types, edited_at, thread_originator_guid\n"
    "FROM messages WHERE guid = ?";
constexpr std::string_view kMessageStored = "SELECT 1 FROM messages WHERE guid = ?";
constexpr std::string_view kMessageGuids = "SELECT guid FROM messages";
constexpr std::string_view kGuidsCopiedWithChat = "SELECT guid FROM messages WHERE chat_id = ?1";
constexpr std::string_view kGuidsInChat =
    "SELECT guid FROM messages WHERE chat_id = ?1\n"
    "UNION SELECT message_guid FROM message_chats WHERE chat_id = ?1";
constexpr std::string_view kHasMessageFrom = "SELECT 1 FROM messages WHERE sender = ? LIMIT 1";
constexpr std::string_view kRecentTexts =
    "SELECT guid, text FROM messages WHERE chat_id = ? AND timestamp <= ?\n"
    "ORDER BY timestamp DESC LIMIT ?";
constexpr std::string_view kDeleteMessage = "DELETE FROM messages WHERE guid = ?";
constexpr std::string_view kDeleteMessages = "DELETE FROM messages";

constexpr std::string_view kChatsOfMessage =
    "SELECT chat_id FROM message_chats WHERE message_guid = ? ORDER BY chat_id";
constexpr std::string_view kClearChatsOfMessage =
    "DELETE FROM message_chats WHERE message_guid = ?";
constexpr std::string_view kInsertChatOfMessage =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id) VALUES (?, ?)";

// Columns 1-8 are a SearchResult's, in its order (without the rank); column 0
// is the rowid that orders messages of equal time.
constexpr std::string_view kMessageByGuidSql =
    "SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages\n"
    "WHERE guid = ?";

// Binds the chat at 1, the message's timestamp at 2 and rowid at 3, the
// count at 4. "timestamp <= ?2" alone lets the chat-and-time index bound the
// scan; the rest of the condition only settles ties.
constexpr std::string_view kMessagesBeforeSql =
    "SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages\n"
    "WHERE chat_id = ?1 AND timestamp <= ?2 AND (timestamp < ?2 OR rowid < ?3)\n"
    "ORDER BY timestamp DESC, rowid DESC\n"
    "LIMIT ?4";

constexpr std::string_view kMessagesAfterSql =
    "SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages\n"
    "WHERE chat_id = ?1 AND timestamp >= ?2 AND (timestamp > ?2 OR rowid > ?3)\n"
    "ORDER BY timestamp ASC, rowid ASC\n"
    "LIMIT ?4";

// The thread of ?1 without it, oldest first, at most ?2: each branch one
// lookup of an index (guid, thread_originator_guid).
constexpr std::string_view kThreadSql =
    "WITH root(guid) AS (\n"
    "    SELECT COALESCE(thread_originator_guid, guid) FROM messages WHERE guid = ?1)\n"
    "SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages WHERE guid = (SELECT guid FROM root) AND guid <> ?1\n"
    "UNION ALL\n"
    "SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group\n"
    "FROM messages WHERE thread_originator_guid = (SELECT guid FROM root) AND guid <> ?1\n"
    "ORDER BY 7, 1\n"
    "LIMIT ?2";

SearchResult readMessage(sqlite3_stmt* statement, ResultBudget& budget) {
    SearchResult message;
    message.guid = budget.readText(statement, 1);
    message.chatId = budget.readText(statement, 2);
    if (sqlite3_column_type(statement, 3) != SQLITE_NULL) {
        message.chatName = budget.readText(statement, 3);
    }
    message.sender = budget.readText(statement, 4);
    message.text = budget.readText(statement, 5);
    message.timestamp = sqlite3_column_int64(statement, 6);
    message.isFromMe = sqlite3_column_int64(statement, 7) != 0;
    message.isGroup = sqlite3_column_int64(statement, 8) != 0;
    return message;
}

std::string contextTimeLimitMessage(const QueryBounds& bounds) {
    return "Reading the messages around a message took longer than " + bounds.timeLimitText() +
           " and was stopped";
}

// Binds one message to the twelve parameters of kInsertMessage.
void bindMessage(sqlite::Statement& statement, const ShadowMessage& message) {
    statement.bindText(1, message.guid());
    statement.bindText(2, message.chatId());
    statement.bindOptionalText(3, message.chatName());
    statement.bindText(4, message.sender());
    statement.bindText(5, message.text());
    statement.bindInt64(6, message.timestamp());
    statement.bindInt(7, message.isFromMe() ? 1 : 0);
    statement.bindInt(8, message.isGroup() ? 1 : 0);
    statement.bindInt(9, message.hasAttachments() ? 1 : 0);
    if (message.attachmentTypes().empty()) {
        statement.bindNull(10);
    } else {
        statement.bindText(10, ShadowBatchTable::renderAttachmentTypes(message.attachmentTypes()));
    }
    statement.bindText(11, message.contentHash());
    statement.bindOptionalText(12, message.threadOriginatorGuid());
}

} // namespace

int64_t ShadowMessageTables::count() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kCountMessages);
        return query.step() ? query.columnInt64(0) : 0;
    });
}

ShadowMessageTables::Context ShadowMessageTables::context(const std::string& guid, int before,
                                                          int after, const QueryBounds& bounds) {
    sqlite::Statement find =
        connection_.guarded([&] { return connection_.db().prepare(kMessageByGuidSql); });
    sqlite::Statement earlier =
        connection_.guarded([&] { return connection_.db().prepare(kMessagesBeforeSql); });
    sqlite::Statement later =
        connection_.guarded([&] { return connection_.db().prepare(kMessagesAfterSql); });
    StatementLimits limits(connection_.handle(), bounds.timeLimit, bounds.maxValueBytes);
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    Context context;

    // Reads up to `count` neighbours into `into`, nearest first, while the
    // budget lasts.
    auto neighbours = [&](sqlite::Statement& statement, const SearchResult& message, int64_t rowid,
                          int count, std::vector<SearchResult>& into) {
        if (count <= 0 || budget.exhausted()) {
            return;
        }
        statement.bindText(1, message.chatId);
        statement.bindInt64(2, message.timestamp);
        statement.bindInt64(3, rowid);
        statement.bindInt(4, count);
        while (!budget.exhausted() && !limits.expired() && statement.step()) {
            into.push_back(readMessage(statement.get(), budget));
        }
    };

    try {
        find.bindText(1, guid);
        if (!find.step()) {
            return context;
        }
        const int64_t rowid = find.columnInt64(0);
        context.message = readMessage(find.get(), budget);
        if (context.message->chatId != kNoChatId) {
            neighbours(earlier, *context.message, rowid, before, context.before);
            neighbours(later, *context.message, rowid, after, context.after);
        }
    } catch (const sqlite::Error& error) {
        if (limits.timedOut()) {
            throw Error(Error::Kind::queryFailed, contextTimeLimitMessage(bounds));
        }
        throw Error::fromSQLite(error, connection_.path());
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, contextTimeLimitMessage(bounds));
    }
    std::reverse(context.before.begin(), context.before.end());
    context.cutTexts = budget.cutCells();
    return context;
}

std::vector<SearchResult> ShadowMessageTables::thread(const std::string& guid, int limit,
                                                      const QueryBounds& bounds) {
    std::vector<SearchResult> thread;
    if (limit <= 0 || !connection_.hasColumn("messages", "thread_originator_guid")) {
        return thread;
    }
    sqlite::Statement query =
        connection_.guarded([&] { return connection_.db().prepare(kThreadSql); });
    StatementLimits limits(connection_.handle(), bounds.timeLimit, bounds.maxValueBytes);
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    try {
        query.bindText(1, guid);
        query.bindInt(2, limit);
        while (!budget.exhausted() && !limits.expired() && query.step()) {
            thread.push_back(readMessage(query.get(), budget));
        }
    } catch (const sqlite::Error& error) {
        if (limits.timedOut()) {
            throw Error(Error::Kind::queryFailed, contextTimeLimitMessage(bounds));
        }
        throw Error::fromSQLite(error, connection_.path());
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, contextTimeLimitMessage(bounds));
    }
    return thread;
}

std::vector<std::pair<std::string, std::string>>
ShadowMessageTables::recentTexts(const std::string& chatId, int64_t timestamp, int limit) {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kRecentTexts);
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

std::vector<std::string> ShadowMessageTables::guids() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kMessageGuids);
        std::vector<std::string> guids;
        while (query.step()) {
            guids.push_back(query.columnText(0));
        }
        return guids;
    });
}

std::vector<std::string> ShadowMessageTables::guidsInChat(const std::string& chatId) {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(
            connection_.hasTable("message_chats") ? kGuidsInChat : kGuidsCopiedWithChat);
        query.bindText(1, chatId);
        std::vector<std::string> guids;
        while (query.step()) {
            guids.push_back(query.columnText(0));
        }
        return guids;
    });
}

bool ShadowMessageTables::hasMessageFrom(const std::string& sender) {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kHasMessageFrom);
        query.bindText(1, sender);
        return query.step();
    });
}

std::vector<std::optional<ShadowMessageTables::StoredCopy>>
ShadowMessageTables::storedCopies(const std::vector<std::string>& guids) {
    return connection_.guarded([&] {
        sqlite::Statement lookup = connection_.db().prepare(kSelectStoredMessage);
        std::vector<std::optional<StoredCopy>> copies;
        copies.reserve(guids.size());
        for (const std::string& guid : guids) {
            lookup.reset();
            lookup.bindText(1, guid);
            if (!lookup.step()) {
                copies.emplace_back();
                continue;
            }
            copies.push_back(StoredCopy{
                lookup.columnText(0), lookup.columnOptionalText(1), lookup.columnText(2),
                lookup.columnText(3), lookup.columnInt64(4), lookup.columnInt64(5) != 0,
                lookup.columnInt64(6) != 0, lookup.columnOptionalText(7),
                lookup.isNull(8) ? std::nullopt : std::optional<int64_t>(lookup.columnInt64(8)),
                lookup.columnOptionalText(9)});
        }
        return copies;
    });
}

std::optional<std::string> ShadowMessageTables::threadOriginatorOf(const std::string& guid) {
    if (!connection_.hasColumn("messages", "thread_originator_guid")) {
        return std::nullopt;
    }
    const std::optional<StoredCopy> copy = storedCopies({guid}).front();
    return copy ? copy->threadOriginatorGuid : std::nullopt;
}

std::vector<bool> ShadowMessageTables::stored(const std::vector<std::string>& guids) {
    return connection_.guarded([&] {
        sqlite::Statement message = connection_.db().prepare(kMessageStored);
        std::vector<bool> found;
        found.reserve(guids.size());
        for (const std::string& guid : guids) {
            message.reset();
            message.bindText(1, guid);
            found.push_back(message.step());
        }
        return found;
    });
}

std::vector<std::vector<std::string>>
ShadowMessageTables::chatsOf(const std::vector<std::string>& guids) {
    return connection_.guarded([&] {
        sqlite::Statement stored = connection_.db().prepare(kChatsOfMessage);
        std::vector<std::vector<std::string>> chats;
        chats.reserve(guids.size());
        for (const std::string& guid : guids) {
            stored.reset();
            stored.bindText(1, guid);
            std::vector<std::string>& now = chats.emplace_back();
            while (stored.step()) {
                now.push_back(stored.columnText(0));
            }
        }
        return chats;
    });
}

void ShadowMessageTables::prepareReplacedCounter() {
    if (replacedCounterReady_) {
        return;
    }
    sqlite3* db = connection_.handle();
    if (sqlite3_create_function_v2(db, kCountReplacedFunction, 0, SQLITE_UTF8, &replacedLiveRows_,
                                   noteReplaced, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw sqlite::Error(sqlite::Error::Stage::prepare, sqlite3_errcode(db),
                            sqlite::errorMessage(db));
    }
    try {
        sqlite::exec(db, kCreateReplacedTrigger);
    } catch (const sqlite::Error& error) {
        // Reported as a statement that could not be prepared, as before.
        throw sqlite::Error(sqlite::Error::Stage::prepare, error.code(), error.what());
    }
    replacedCounterReady_ = true;
}

// A batch is written with one INSERT OR REPLACE ... SELECT over the list.
// Each statement that writes through the full-text triggers runs in a
// statement savepoint, and FTS5 flushes its pending index data to disk at
// every savepoint, so writing row by row turns every message into its own
// index segment and makes a sync several times slower. One statement per
// batch writes the same rows, in the same order, with the same rowids and
// trigger effects.
ShadowMessageTables::WriteResult
ShadowMessageTables::write(const std::vector<ShadowMessage>& messages, bool countGrowth,
                           const std::function<void(const WriteResult&)>& beforeCommit) {
    WriteResult result;
    if (messages.empty() && !beforeCommit) {
        return result;
    }
    return connection_.guarded([&] {
        sqlite::Connection& db = connection_.db();
        sqlite::Transaction transaction(db.get());
        if (countGrowth) {
            prepareReplacedCounter();
        }
        sqlite::Statement write = db.prepare(kWriteBatch);
        replacedLiveRows_ = 0;
        ShadowBatchTable::bind(write, 1, messages);
        try {
            write.run();
        } catch (const sqlite::Error& error) {
            const std::string sqliteMessage =
                Error::fromSQLite(error, connection_.path()).message();
            write.finalize();
            transaction.rollback();
            // Find the message that fails, and SQLite's own words for it.
            auto [guid, reason] = diagnoseFailedBatch(messages);
            if (guid.empty() && !messages.empty()) {
                guid = messages.front().guid();
            }
            throw Error(Error::Kind::insertFailed, "Failed on guid=" + guid + ": " +
                                                       (reason.empty() ? sqliteMessage : reason));
        }
        write.finalize();
        if (!messages.empty() && connection_.hasTable("message_chats")) {
            sqlite::Statement chats = db.prepare(kWriteBatchChats);
            ShadowBatchTable::bind(chats, 1, messages);
            chats.run();
        }
        if (!messages.empty() && connection_.hasTable("message_emoji")) {
            writeEmoji(messages);
        }
        if (!messages.empty() && connection_.hasTable("spaced_texts")) {
            writeSpacedTexts(messages);
        }

        result.written = static_cast<int>(messages.size());
        if (countGrowth) {
            result.countGrowth = result.written - replacedLiveRows_;
        }
        if (beforeCommit) {
            beforeCommit(result);
        }
        transaction.commit();
        return result;
    });
}

std::pair<std::string, std::string>
ShadowMessageTables::diagnoseFailedBatch(const std::vector<ShadowMessage>& messages) {
    // Replays the batch row by row in a transaction that is always rolled
    // back; only used after a batch has failed and been rolled back.
    try {
        sqlite::Transaction replay(connection_.handle());
        sqlite::Statement insert = connection_.db().prepare(kInsertMessage);
        for (const ShadowMessage& message : messages) {
            insert.reset();
            insert.clearBindings();
            bindMessage(insert, message);
            try {
                insert.run();
            } catch (const sqlite::Error& error) {
                return {message.guid(), error.what()};
            }
        }
    } catch (const sqlite::Error&) {
        // The replay itself could not run; the caller reports the batch's
        // own failure.
    }
    return {};
}

void ShadowMessageTables::writeEmoji(const std::vector<ShadowMessage>& messages) {
    std::optional<sqlite::Statement> insert;
    for (const ShadowMessage& message : messages) {
        for (const std::string& emoji : EmojiText::indexKeys(message.text())) {
            if (!insert) {
                insert = connection_.db().prepare(shadow_schema::kInsertMessageEmoji);
            }
            insert->reset();
            insert->bindText(1, emoji);
            insert->bindText(2, message.guid());
            insert->run();
        }
    }
}

// One statement for the whole batch, as for the messages: spaced_texts
// feeds a full-text index, which flushes its pending data at each
// statement, so a row at a time makes one index segment per message.
void ShadowMessageTables::writeSpacedTexts(const std::vector<ShadowMessage>& messages) {
    std::vector<ShadowMessage> spaced;
    for (const ShadowMessage& message : messages) {
        if (SpacelessText::contains(message.text())) {
            spaced.emplace_back(message.guid(), std::string(), std::nullopt, std::string(),
                                SpacelessText::spaced(message.text()), 0, false, false, false,
                                std::vector<std::string>(), 0);
        }
    }
    if (spaced.empty()) {
        return;
    }
    sqlite::Statement insert = connection_.db().prepare(kWriteBatchSpacedTexts);
    ShadowBatchTable::bind(insert, 1, spaced);
    insert.run();
}

void ShadowMessageTables::replaceChats(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& chats) {
    if (chats.empty()) {
        return;
    }
    connection_.guarded([&] {
        sqlite::Statement clear = connection_.db().prepare(kClearChatsOfMessage);
        sqlite::Statement insert = connection_.db().prepare(kInsertChatOfMessage);
        for (const auto& [guid, chatIds] : chats) {
            clear.reset();
            clear.bindText(1, guid);
            clear.run();
            for (const std::string& chat : chatIds) {
                insert.reset();
                insert.bindText(1, guid);
                insert.bindText(2, chat);
                insert.run();
            }
        }
    });
}

int64_t ShadowMessageTables::remove(const std::vector<std::string>& guids) {
    if (guids.empty()) {
        return 0;
    }
    return connection_.guarded([&] {
        sqlite::Statement deleteMessage = connection_.db().prepare(kDeleteMessage);
        int64_t removed = 0;
        for (const std::string& guid : guids) {
            deleteMessage.reset();
            deleteMessage.bindText(1, guid);
            deleteMessage.run();
            removed += sqlite3_changes(connection_.handle());
        }
        return removed;
    });
}

void ShadowMessageTables::clear() {
    connection_.guarded([&] { sqlite::exec(connection_.handle(), kDeleteMessages); });
}

} // namespace orlune::core
