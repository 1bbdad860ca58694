// ShadowDBReader::messageContext: a message and the messages next to it in
// its chat, read along idx_messages_chat_time.

#include "sql/ResultBudget.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "records/ShadowMessage.hpp"
#include "sql/StatementLimits.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

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

std::string timeLimitMessage(const QueryBounds& bounds) {
    return "Reading the messages around a message took longer than " + bounds.timeLimitText() +
           " and was stopped";
}

} // namespace

ShadowDBReader::MessageContext ShadowDBReader::messageContext(const std::string& guid, int before,
                                                              int after,
                                                              const QueryBounds& bounds) {
    sqlite::Statement find = guarded([&] { return db_.prepare(kMessageByGuidSql); });
    sqlite::Statement earlier = guarded([&] { return db_.prepare(kMessagesBeforeSql); });
    sqlite::Statement later = guarded([&] { return db_.prepare(kMessagesAfterSql); });
    StatementLimits limits(handle(), bounds.timeLimit, bounds.maxValueBytes);
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    MessageContext context;

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
            throw Error(Error::Kind::queryFailed, timeLimitMessage(bounds));
        }
        throw Error::fromSQLite(error, path_);
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, timeLimitMessage(bounds));
    }
    std::reverse(context.before.begin(), context.before.end());
    context.cutTexts = budget.cutCells();
    return context;
}

} // namespace orlune::core
