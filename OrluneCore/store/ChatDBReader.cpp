#include "store/ChatDBReader.hpp"

#include "base/AsciiText.hpp"
#include "base/Utf8.hpp"
#include "records/AttachmentKind.hpp"
#include "sql/StoreConnection.hpp"
#include "store/MessageSummaryInfo.hpp"
#include "store/MessageText.hpp"
#include "store/Reaction.hpp"
#include "store/TypedStreamDecoder.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace orlune::core {

namespace {

constexpr std::string_view kRelativeStorePath = "Library/Messages/chat.db";
constexpr int kGroupChatStyle = 43;

// Column positions of kFetchMessages.
enum MessageColumn {
    kRowid = 0,
    kGuid,
    kText,
    kBodyHex,
    kDate,
    kIsFromMe,
    kSenderId,
    kChatGuid,
    kDisplayName,
    kStyle,
    // Columns of newer stores; a store without one reads a constant instead.
    kAssociatedType,
    kAssociatedGuid,
    kAssociatedEmoji,
    kItemType,
    kDateEdited,
    kDateRetracted,
    kSummaryInfoHex,
    kIsSpam,
    kIsFiltered,
    kIsBlackholed,
    kCacheHasAttachments,
    kIsAudioMessage,
    kThreadOriginatorGuid,
};

// The thread a row replies in: the guid of the thread's first message, absent
// for a row that is no reply (NULL or empty) and for stores without threads.
std::optional<std::string> threadOriginator(sqlite::Statement& statement) {
    std::optional<std::string> guid = statement.columnOptionalText(kThreadOriginatorGuid);
    if (guid && guid->empty()) {
        guid.reset();
    }
    return guid;
}

// chat.is_filtered for a chat the store files as junk.
constexpr int64_t kJunkFilterCategory = 2;

// The WHERE and ORDER BY of each message read, after the SELECT list.
// Dates that are not positive integers are left to kWhereOddDate: the
// (date, ROWID) cursor cannot step over text or an out-of-range REAL.
constexpr std::string_view kWhereAfterCursor =
    "WHERE m.date >= ?1 AND ((m.date > ?1) OR (m.date = ?2 AND m.ROWID > ?3))\n"
    "  AND typeof(m.date) = 'integer'\n"
    "ORDER BY m.date ASC, m.ROWID ASC\n"
    "LIMIT ?4";
constexpr std::string_view kWhereRowidBehindCursor =
    "WHERE m.ROWID > ?1 AND m.ROWID <= ?2\n"
    "  AND (m.date < ?3 OR (m.date = ?3 AND m.ROWID <= ?4))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
constexpr std::string_view kWhereJoinedBetween =
    "WHERE m.ROWID IN (SELECT message_id FROM chat_message_join WHERE rowid > ?1 AND rowid <= ?2)\n"
    "  AND (m.date < ?3 OR (m.date = ?3 AND m.ROWID <= ?4))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
constexpr std::string_view kWhereInSeveralChats =
    "WHERE m.ROWID IN (SELECT message_id FROM chat_message_join GROUP BY message_id\n"
    "                  HAVING COUNT(DISTINCT chat_id) > 1)\n"
    "  AND (m.date < ?1 OR (m.date = ?1 AND m.ROWID <= ?2))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
constexpr std::string_view kWhereInChat =
    "WHERE m.ROWID IN (SELECT j.message_id FROM chat_message_join j\n"
    "                  JOIN chat k ON k.ROWID = j.chat_id WHERE k.guid = ?1)\n"
    "  AND (m.date < ?2 OR (m.date = ?2 AND m.ROWID <= ?3))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
constexpr std::string_view kWhereNewest =
    "WHERE m.ROWID IN (SELECT ROWID FROM message ORDER BY ROWID DESC LIMIT ?1)\n"
    "  AND (m.date < ?2 OR (m.date = ?2 AND m.ROWID <= ?3))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
// Each subquery is a range of the date index (NULL sorts before numbers,
// text and blobs after them); one WHERE with OR would scan the whole table.
constexpr std::string_view kWhereOddDate =
    "WHERE m.ROWID IN (\n"
    "    SELECT ROWID FROM message WHERE date IS NULL\n"
    "    UNION ALL SELECT ROWID FROM message WHERE date <= 0\n"
    "    UNION ALL SELECT ROWID FROM message WHERE date > 9000000000000000000)\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";
constexpr std::string_view kWhereRowid = "WHERE m.ROWID = ?1 ORDER BY cmj.rowid ASC";

constexpr std::string_view kRecentlyDeleted =
    "SELECT DISTINCT r.message_id, m.guid FROM chat_recoverable_message_join r\n"
    "JOIN message m ON m.ROWID = r.message_id WHERE m.guid IS NOT NULL ORDER BY r.message_id";
constexpr std::string_view kRecoverableRowids =
    "SELECT DISTINCT message_id FROM chat_recoverable_message_join ORDER BY message_id";
constexpr std::string_view kTombstonesAfter =
    "SELECT ROWID, guid FROM deleted_messages WHERE ROWID > ? ORDER BY ROWID";
constexpr std::string_view kCountRowsBetween =
    "SELECT COUNT(*) FROM message WHERE ROWID > ? AND ROWID <= ?";
// A store whose message.guid carries no UNIQUE index may hold several rows
// with one guid; they are found once per pass (a full scan, which stores
// with the index never pay).
constexpr std::string_view kGuidIsUnique =
    "SELECT COUNT(*) FROM pragma_index_list('message') il\n"
    "WHERE il.\"unique\" = 1\n"
    "  AND (SELECT COUNT(*) FROM pragma_index_info(il.name)) = 1\n"
    "  AND (SELECT name FROM pragma_index_info(il.name)) = 'guid'";
constexpr std::string_view kSharedGuids =
    "SELECT guid, MIN(ROWID) FROM message WHERE guid IS NOT NULL GROUP BY guid\n"
    "HAVING COUNT(*) > 1";

constexpr std::string_view kAllGuids = "SELECT guid FROM message WHERE guid IS NOT NULL";

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& present) {
        return sqlite3_stricmp(present.c_str(), std::string(name).c_str()) == 0;
    });
}

// `blobHex` decoded, or empty.
// Whether a HEX(...) column holds any bytes: HEX(NULL) is '', so NULL and an
// empty blob both read as none, and nothing is decoded (a decoder fails on
// no bytes, by throwing, which costs a first sync dearly row after row).
bool hasHexBytes(sqlite::Statement& statement, int column) {
    return sqlite3_column_bytes(statement.get(), column) > 0;
}

std::string bytesFromHex(sqlite::Statement& statement, int column) {
    if (statement.isNull(column)) {
        return {};
    }
    const auto* hex = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), column));
    const auto length = static_cast<size_t>(sqlite3_column_bytes(statement.get(), column));
    if (hex == nullptr) {
        return {};
    }
    return decodeHex(std::string_view(hex, length)).value_or(std::string());
}

// The text column whole: a NUL inside it becomes a space instead of ending
// the text there.
std::string wholeText(sqlite::Statement& statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), column));
    if (text == nullptr) {
        return {};
    }
    std::string bytes(text, static_cast<size_t>(sqlite3_column_bytes(statement.get(), column)));
    std::replace(bytes.begin(), bytes.end(), '\0', ' ');
    return utf8::sanitize(bytes);
}

// Seconds since 2001 in the unit of `date` (nanoseconds for a date that is).
int64_t inUnitOf(double seconds, int64_t date) {
    const bool nanoseconds = date >= kStoreNanosecondsFrom || date <= -kStoreNanosecondsFrom;
    return static_cast<int64_t>(std::llround(nanoseconds ? seconds * 1e9 : seconds));
}

} // namespace

ChatDBReader::Error::Error(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)) {
    switch (kind_) {
    case Kind::failedToOpen:
        description_ = "Failed to open database: " + message_;
        break;
    case Kind::queryFailed:
        description_ = "Query failed: " + message_;
        break;
    case Kind::databaseNotFound:
        description_ = "chat.db not found";
        break;
    }
}

std::string ChatDBReader::defaultChatDBPath(const Environment& environment) {
    if (auto path = environment.variable("CHAT_DB_PATH")) {
        return *path;
    }
    return joinPath(environment.homeDirectory(), std::string(kRelativeStorePath));
}

ChatDBReader::ChatDBReader(const std::optional<std::string>& path, const Environment& environment)
    : path_(path ? *path : defaultChatDBPath(environment)) {
    if (pathIsMissing(path_)) {
        throw Error::databaseNotFound();
    }
    std::string failure;
    db_ = openStoreReadOnly(path_, failure);
    if (!db_) {
        throw Error::failedToOpen(failure);
    }
    // Which optional tables and columns the store has is read now, while it
    // was just opened; a store busy at this moment is probed again by the
    // first read.
    try {
        probe();
    } catch (const Error&) {
        probed_ = false;
    }
}

void ChatDBReader::checkSchema() {
    struct Needed {
        const char* table;
        std::vector<const char*> columns;
    };
    const Needed needed[] = {
        {"message", {"ROWID", "guid", "text", "attributedBody", "date", "is_from_me", "handle_id"}},
        {"handle", {"ROWID", "id", "service"}},
        {"chat_message_join", {"message_id", "chat_id"}},
        {"chat", {"ROWID", "guid", "display_name", "style"}},
        {"chat_handle_join", {"chat_id", "handle_id"}},
    };
    sqlite::Statement columns = prepare(chat_db_sql::kTableColumns);
    for (const Needed& table : needed) {
        columns.reset();
        columns.bindText(1, table.table);
        std::vector<std::string> present;
        guarded([&] {
            while (columns.step()) {
                present.push_back(columns.columnText(0));
            }
        });
        if (present.empty()) {
            throw Error::queryFailed(std::string("the messaging store has no table ") +
                                     table.table);
        }
        for (const char* column : table.columns) {
            if (std::string_view(column) == "ROWID") {
                continue; // every ordinary table has one
            }
            bool found = false;
            for (const std::string& name : present) {
                found = found || sqlite3_stricmp(name.c_str(), column) == 0;
            }
            if (!found) {
                throw Error::queryFailed(std::string("the messaging store has no column ") +
                                         table.table + "." + column);
            }
        }
    }
}

FetchResult ChatDBReader::fetchMessages(int64_t afterTimestamp, int64_t afterRowid, int limit) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereAfterCursor));
    statement.bindInt64(1, afterTimestamp);
    statement.bindInt64(2, afterTimestamp);
    statement.bindInt64(3, afterRowid);
    statement.bindInt(4, limit);

    FetchResult result;
    result.lastRawTimestamp = afterTimestamp;
    result.lastRawRowid = afterRowid;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessagesByRowidBehindCursor(int64_t afterRowid, int64_t throughRowid,
                                                           int64_t cursorTimestamp,
                                                           int64_t cursorRowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereRowidBehindCursor));
    statement.bindInt64(1, afterRowid);
    statement.bindInt64(2, throughRowid);
    statement.bindInt64(3, cursorTimestamp);
    statement.bindInt64(4, cursorRowid);
    FetchResult result;
    result.lastRawRowid = afterRowid;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessagesInChat(const std::string& chatGuid, int64_t cursorTimestamp,
                                              int64_t cursorRowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereInChat));
    statement.bindText(1, chatGuid);
    statement.bindInt64(2, cursorTimestamp);
    statement.bindInt64(3, cursorRowid);
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessagesInSeveralChats(int64_t cursorTimestamp,
                                                      int64_t cursorRowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereInSeveralChats));
    statement.bindInt64(1, cursorTimestamp);
    statement.bindInt64(2, cursorRowid);
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessagesJoinedBetween(int64_t afterJoinRowid,
                                                     int64_t throughJoinRowid,
                                                     int64_t cursorTimestamp, int64_t cursorRowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereJoinedBetween));
    statement.bindInt64(1, afterJoinRowid);
    statement.bindInt64(2, throughJoinRowid);
    statement.bindInt64(3, cursorTimestamp);
    statement.bindInt64(4, cursorRowid);
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchNewestMessagesBehindCursor(int count, int64_t cursorTimestamp,
                                                          int64_t cursorRowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereNewest));
    statement.bindInt(1, count);
    statement.bindInt64(2, cursorTimestamp);
    statement.bindInt64(3, cursorRowid);
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

int64_t ChatDBReader::singleInteger(std::string_view sql) {
    sqlite::Statement statement = prepare(sql);
    return guarded([&] { return statement.step() ? statement.columnInt64(0) : 0; });
}

int64_t ChatDBReader::maxMessageRowid() {
    return singleInteger(chat_db_sql::kMaxMessageRowid);
}

int64_t ChatDBReader::maxJoinRowid() {
    return singleInteger(chat_db_sql::kMaxJoinRowid);
}

int64_t ChatDBReader::highestMessageRowidEver() {
    int64_t highest = maxMessageRowid();
    if (singleInteger(chat_db_sql::kHasSequence) > 0) {
        highest = std::max(highest, singleInteger(chat_db_sql::kMessageSequence));
    }
    return highest;
}

std::optional<std::string> ChatDBReader::guidAt(int64_t rowid) {
    sqlite::Statement statement = prepare(chat_db_sql::kGuidAt);
    statement.bindInt64(1, rowid);
    return guarded([&]() -> std::optional<std::string> {
        if (statement.step()) {
            return statement.columnOptionalText(0);
        }
        return std::nullopt;
    });
}

bool ChatDBReader::hasChat(const std::string& chatGuid) {
    sqlite::Statement statement = prepare(chat_db_sql::kChatWithGuid);
    statement.bindText(1, chatGuid);
    return guarded([&] { return statement.step(); });
}

std::optional<int64_t> ChatDBReader::nthRowidAfter(int64_t afterRowid, int n) {
    sqlite::Statement statement = prepare(chat_db_sql::kNthRowidAfter);
    statement.bindInt64(1, afterRowid);
    statement.bindInt(2, n - 1);
    return guarded([&]() -> std::optional<int64_t> {
        if (statement.step()) {
            return statement.columnInt64(0);
        }
        return std::nullopt;
    });
}

std::optional<ChatDBReader::JoinRow> ChatDBReader::joinAt(int64_t joinRowid) {
    sqlite::Statement statement = prepare(chat_db_sql::kJoinAt);
    statement.bindInt64(1, joinRowid);
    return guarded([&]() -> std::optional<JoinRow> {
        if (statement.step()) {
            return JoinRow{statement.columnInt64(0), statement.columnInt64(1)};
        }
        return std::nullopt;
    });
}

void ChatDBReader::readMessageRows(sqlite::Statement& statement, FetchResult& result) {
    std::optional<sqlite::Statement> attachments;
    if (hasAttachments_) {
        std::string sql = "SELECT a.guid";
        for (const std::string& column : attachmentColumns_) {
            sql += ", " + column;
        }
        sql += "\nFROM message_attachment_join j JOIN attachment a ON a.ROWID = j.attachment_id\n"
               "WHERE j.message_id = ? ORDER BY j.rowid";
        attachments = prepare(sql);
    }
    std::set<std::string> excludedGuids;
    int64_t countedRowid = -1;
    for (;;) {
        try {
            if (!statement.step()) {
                break;
            }
        } catch (const sqlite::Error& error) {
            // A busy or locked store ends the page quietly: the short page
            // ends the caller's pass and the next pass resumes after the rows
            // returned. Any other failure would silently stop every later
            // pass at the same row, so it is reported.
            if (error.isBusy()) {
                break;
            }
            throw Error::queryFailed(error.what());
        }
        ++result.rawRowCount;
        const int64_t rowid = statement.columnInt64(kRowid);
        const int64_t date = statement.columnInt64(kDate);
        result.lastRawRowid = rowid;
        result.lastRawTimestamp = date;

        auto guid = statement.columnOptionalText(kGuid);
        if (!guid) {
            continue;
        }
        // A message in several chats comes as one row per chat, side by
        // side: it is counted once.
        const bool firstRowOfMessage = rowid != countedRowid;
        countedRowid = rowid;
        auto countLeftOut = [&](int64_t LeftOutCounts::*kind) {
            if (firstRowOfMessage) {
                ++(result.leftOut.*kind);
            }
        };
        if (!sharedGuids_.empty()) {
            const auto shared = sharedGuids_.find(*guid);
            if (shared != sharedGuids_.end() && shared->second != rowid) {
                *guid = derivedGuid(*guid, rowid);
            }
        }
        // A row of a chat left out is not read at all, and a message that
        // is also in another chat is left out with it (below).
        if (!excludedChats_.empty()) {
            if (const auto chat = statement.columnOptionalText(kChatGuid);
                chat && excludedChats_.count(*chat) > 0) {
                excludedGuids.insert(std::move(*guid));
                continue;
            }
        }
        // Group events (members added or removed, renames, a member
        // leaving...) are not messages.
        if (statement.columnInt64(kItemType) != 0) {
            countLeftOut(&LeftOutCounts::events);
            continue;
        }
        const bool isFromMe = statement.columnInt64(kIsFromMe) != 0;
        std::string sender = isFromMe
                                 ? std::string(kSenderMe)
                                 : statement.columnOptionalText(kSenderId).value_or(kSenderUnknown);
        if (auto reaction =
                reactionTypeFromAssociatedType(statement.columnInt64(kAssociatedType))) {
            const auto target = reactionTargetFromAssociatedGuid(
                statement.columnOptionalText(kAssociatedGuid).value_or(std::string()));
            if (target) {
                result.reactions.push_back(StoreReaction{
                    std::move(*guid), target->guid, std::string(reactionKindName(reaction->kind)),
                    reaction->removal, std::move(sender),
                    statement.columnOptionalText(kAssociatedEmoji), date});
            }
            countLeftOut(&LeftOutCounts::reactions);
            continue;
        }
        const bool junk = statement.columnInt64(kIsFiltered) == kJunkFilterCategory ||
                          statement.columnInt64(kIsBlackholed) != 0 ||
                          statement.columnInt64(kIsSpam) != 0;
        const bool recentlyDeleted =
            std::binary_search(recoverableRowids_.begin(), recoverableRowids_.end(), rowid);
        if ((junk && !includeJunk_) || recentlyDeleted) {
            if (!recentlyDeleted) {
                countLeftOut(&LeftOutCounts::junk);
            }
            result.removedGuids.push_back(std::move(*guid));
            continue;
        }

        std::string text = wholeText(statement, kText);
        if (text.empty() && hasHexBytes(statement, kBodyHex)) {
            text = TypedStreamDecoder::decodeToString(bytesFromHex(statement, kBodyHex))
                       .value_or(std::string());
        }
        std::optional<int64_t> editedAt;
        if (const int64_t dateEdited = statement.columnInt64(kDateEdited); dateEdited != 0) {
            editedAt = dateEdited;
        }
        bool unsent = statement.columnInt64(kDateRetracted) != 0;
        if (hasHexBytes(statement, kSummaryInfoHex)) {
            if (auto info = MessageSummaryInfo::parse(bytesFromHex(statement, kSummaryInfoHex))) {
                if (text.empty()) {
                    text = info->currentText(0).value_or(std::string());
                }
                if (!editedAt && !info->editedParts().empty()) {
                    if (auto seconds = info->lastEditedSecondsSince2001()) {
                        editedAt = inUnitOf(*seconds, date);
                    }
                }
                unsent = unsent || !info->unsentParts().empty();
            }
        }
        text = withoutPlaceholders(text);
        // A voice message's body holds only its placeholder; the system's
        // transcript of it, where there is one, is its text.
        if (text.empty() && hasHexBytes(statement, kBodyHex)) {
            text = TypedStreamDecoder::audioTranscription(bytesFromHex(statement, kBodyHex))
                       .value_or(std::string());
        }

        std::vector<ShadowAttachment> found;
        if (attachments && statement.columnInt64(kCacheHasAttachments) != 0) {
            attachments->reset();
            attachments->bindInt64(1, rowid);
            guarded([&] {
                while (attachments->step()) {
                    ShadowAttachment attachment;
                    attachment.guid = attachments->columnText(0);
                    const auto transferName = attachments->columnOptionalText(1);
                    const auto fileName = attachments->columnOptionalText(2);
                    attachment.mimeType = attachments->columnOptionalText(3);
                    attachment.uti = attachments->columnOptionalText(4);
                    attachment.bytes = attachments->columnInt64(5);
                    attachment.sticker = attachments->columnInt64(6) != 0;
                    attachment.hidden = attachments->columnInt64(7) != 0;
                    attachment.downloaded = fileName.has_value();
                    if (transferName) {
                        attachment.name = transferName;
                    } else if (fileName) {
                        attachment.name = fileName->substr(fileName->find_last_of('/') + 1);
                    }
                    AttachmentFacts facts;
                    if (attachment.uti) {
                        facts.uti = *attachment.uti;
                    }
                    if (attachment.mimeType) {
                        facts.mimeType = *attachment.mimeType;
                    }
                    if (attachment.name) {
                        facts.name = *attachment.name;
                    }
                    facts.isSticker = attachment.sticker;
                    facts.isAudioMessage = statement.columnInt64(kIsAudioMessage) != 0;
                    attachment.kind = std::string(attachmentKindName(attachmentKind(facts)));
                    found.push_back(std::move(attachment));
                }
            });
        }
        // An unsent message (every part taken back) is gone; one with some
        // parts left keeps what remains.
        if (unsent && text.empty()) {
            countLeftOut(&LeftOutCounts::unsent);
            result.unsentGuids.push_back(*guid);
            result.removedGuids.push_back(std::move(*guid));
            continue;
        }
        std::vector<std::string> kinds;
        for (const ShadowAttachment& attachment : found) {
            if (!attachment.hidden) {
                kinds.push_back(attachment.kind);
            }
        }
        if (text.empty() && kinds.empty()) {
            continue;
        }
        std::string chatId = statement.columnOptionalText(kChatGuid).value_or("unknown");
        std::optional<std::string> chatName = statement.columnOptionalText(kDisplayName);
        const bool isGroup = statement.columnInt64(kStyle) == kGroupChatStyle;
        const bool hasAttachments = !kinds.empty();
        result.messages.push_back(ShadowMessage(std::move(*guid), std::move(chatId),
                                                std::move(chatName), std::move(sender),
                                                std::move(text), date, isFromMe, isGroup,
                                                hasAttachments, std::move(kinds), rowid)
                                      .withDetails(std::move(found), editedAt)
                                      .inThreadOf(threadOriginator(statement)));
    }
    if (!excludedGuids.empty()) {
        std::erase_if(result.messages, [&](const ShadowMessage& message) {
            return excludedGuids.count(message.guid()) > 0;
        });
        result.excludedGuids.assign(excludedGuids.begin(), excludedGuids.end());
    }
}

void ChatDBReader::probe() {
    if (probed_) {
        return;
    }
    auto columnsOf = [&](const char* table) {
        std::vector<std::string> names;
        sqlite::Statement columns = prepare(chat_db_sql::kTableColumns);
        columns.bindText(1, table);
        guarded([&] {
            while (columns.step()) {
                names.push_back(columns.columnText(0));
            }
        });
        return names;
    };
    const std::vector<std::string> message = columnsOf("message");
    const std::vector<std::string> chat = columnsOf("chat");
    const std::vector<std::string> attachment = columnsOf("attachment");
    const std::vector<std::string> attachmentJoin = columnsOf("message_attachment_join");
    hasAttachments_ = contains(attachmentJoin, "message_id") &&
                      contains(attachmentJoin, "attachment_id") && !attachment.empty();
    hasRecoverable_ = contains(columnsOf("chat_recoverable_message_join"), "message_id");
    hasTombstones_ = contains(columnsOf("deleted_messages"), "guid");

    auto or_ = [](const std::vector<std::string>& present, const char* prefix, const char* name,
                  const char* otherwise) {
        return contains(present, name) ? std::string(prefix) + name : std::string(otherwise);
    };
    std::string sql = "SELECT\n"
                      "    m.ROWID, m.guid, m.text, HEX(m.attributedBody), m.date, m.is_from_me,\n"
                      "    h.id, c.guid, c.display_name, c.style";
    const std::pair<const char*, const char*> messageExtras[] = {
        {"associated_message_type", "0"},
        {"associated_message_guid", "NULL"},
        {"associated_message_emoji", "NULL"},
        {"item_type", "0"},
        {"date_edited", "0"},
        {"date_retracted", "0"},
    };
    for (const auto& [name, otherwise] : messageExtras) {
        sql += ",\n    " + or_(message, "m.", name, otherwise);
    }
    sql += contains(message, "message_summary_info") ? ",\n    HEX(m.message_summary_info)"
                                                     : ",\n    NULL";
    sql += ",\n    " + or_(message, "m.", "is_spam", "0");
    sql += ",\n    " + or_(chat, "c.", "is_filtered", "0");
    sql += ",\n    " + or_(chat, "c.", "is_blackholed", "0");
    // Without the cached flag every message is looked up.
    sql += ",\n    " + or_(message, "m.", "cache_has_attachments", hasAttachments_ ? "1" : "0");
    sql += ",\n    " + or_(message, "m.", "is_audio_message", "0");
    sql += ",\n    " + or_(message, "m.", "thread_originator_guid", "NULL");
    sql += "\nFROM message m\n"
           "LEFT JOIN handle h ON m.handle_id = h.ROWID\n"
           "LEFT JOIN chat_message_join cmj ON m.ROWID = cmj.message_id\n"
           "LEFT JOIN chat c ON cmj.chat_id = c.ROWID\n";
    messageColumns_ = std::move(sql);

    attachmentColumns_.clear();
    const std::pair<const char*, const char*> attachmentExtras[] = {
        {"transfer_name", "NULL"}, {"filename", "NULL"}, {"mime_type", "NULL"},    {"uti", "NULL"},
        {"total_bytes", "0"},      {"is_sticker", "0"},  {"hide_attachment", "0"},
    };
    for (const auto& [name, otherwise] : attachmentExtras) {
        attachmentColumns_.push_back(or_(attachment, "a.", name, otherwise));
    }
    sharedGuids_.clear();
    if (singleInteger(kGuidIsUnique) == 0) {
        sqlite::Statement shared = prepare(kSharedGuids);
        guarded([&] {
            while (shared.step()) {
                sharedGuids_.emplace(shared.columnText(0), shared.columnInt64(1));
            }
        });
    }
    recoverableRowids_.clear();
    if (hasRecoverable_) {
        sqlite::Statement rows = prepare(kRecoverableRowids);
        guarded([&] {
            while (rows.step()) {
                recoverableRowids_.push_back(rows.columnInt64(0));
            }
        });
    }
    probed_ = true;
}

const std::string& ChatDBReader::messageColumns() {
    probe();
    return messageColumns_;
}

FetchResult ChatDBReader::fetchMessagesWithOddDates() {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereOddDate));
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessageAt(int64_t rowid) {
    sqlite::Statement statement = prepare(messageColumns() + std::string(kWhereRowid));
    statement.bindInt64(1, rowid);
    FetchResult result;
    readMessageRows(statement, result);
    return result;
}

std::vector<std::pair<int64_t, std::string>> ChatDBReader::recentlyDeleted() {
    probe();
    std::vector<std::pair<int64_t, std::string>> rows;
    if (!hasRecoverable_) {
        return rows;
    }
    sqlite::Statement statement = prepare(kRecentlyDeleted);
    guarded([&] {
        while (statement.step()) {
            rows.emplace_back(statement.columnInt64(0), statement.columnText(1));
        }
    });
    return rows;
}

StoreDeletions ChatDBReader::deletionsAfter(int64_t afterRowid) {
    probe();
    StoreDeletions deletions;
    deletions.lastTombstoneRowid = afterRowid;
    deletions.hasTombstoneLog = hasTombstones_;
    if (!hasTombstones_) {
        return deletions;
    }
    sqlite::Statement statement = prepare(kTombstonesAfter);
    statement.bindInt64(1, afterRowid);
    guarded([&] {
        while (statement.step()) {
            deletions.lastTombstoneRowid = statement.columnInt64(0);
            if (!statement.isNull(1)) {
                deletions.tombstoneGuids.push_back(statement.columnText(1));
            }
        }
    });
    return deletions;
}

int64_t ChatDBReader::countRowsBetween(int64_t afterRowid, int64_t throughRowid) {
    sqlite::Statement statement = prepare(kCountRowsBetween);
    statement.bindInt64(1, afterRowid);
    statement.bindInt64(2, throughRowid);
    return guarded([&] { return statement.step() ? statement.columnInt64(0) : 0; });
}

std::vector<std::string> ChatDBReader::allGuids() {
    sqlite::Statement statement = prepare(kAllGuids);
    std::vector<std::string> guids;
    guarded([&] {
        while (statement.step()) {
            guids.push_back(statement.columnText(0));
        }
    });
    return guids;
}

sqlite::Statement ChatDBReader::prepare(std::string_view sql) {
    return guarded([&] { return db_.prepare(sql); });
}

std::vector<ChatParticipant> ChatDBReader::fetchChatParticipants() {
    sqlite::Statement statement = prepare(chat_db_sql::kFetchChatParticipants);
    std::vector<ChatParticipant> participants;
    guarded([&] {
        while (statement.step()) {
            if (statement.isNull(0) || statement.isNull(2)) {
                continue;
            }
            participants.push_back(
                ChatParticipant{statement.columnText(0), statement.columnInt64(1),
                                statement.columnText(2), statement.columnOptionalText(3)});
        }
    });
    return participants;
}

int64_t ChatDBReader::totalMessageCount() {
    return singleInteger(chat_db_sql::kCountMessages);
}

std::string derivedGuid(std::string_view guid, int64_t rowid) {
    return std::string(guid) + kDerivedGuidSeparator + std::to_string(rowid);
}

std::string_view storeGuidOf(std::string_view guid) {
    return guid.substr(0, guid.find(kDerivedGuidSeparator));
}

std::optional<std::string> decodeHex(std::string_view hex) {
    std::string bytes;
    bytes.resize(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int high = ascii::hexDigit(hex[2 * i]);
        const int low = ascii::hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes[i] = static_cast<char>((high << 4) | low);
    }
    return bytes;
}

} // namespace orlune::core
