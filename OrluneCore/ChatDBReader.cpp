#include "OrluneCore/ChatDBReader.hpp"

#include "OrluneCore/AsciiText.hpp"
#include "OrluneCore/StoreConnection.hpp"
#include "OrluneCore/TypedStreamDecoder.hpp"

#include <algorithm>

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
};

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
    sqlite::Statement statement = prepare(chat_db_sql::kFetchMessages);
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
    sqlite::Statement statement = prepare(chat_db_sql::kFetchMessagesByRowidBehindCursor);
    statement.bindInt64(1, afterRowid);
    statement.bindInt64(2, throughRowid);
    statement.bindInt64(3, cursorTimestamp);
    statement.bindInt64(4, cursorRowid);
    FetchResult result;
    result.lastRawRowid = afterRowid;
    readMessageRows(statement, result);
    return result;
}

FetchResult ChatDBReader::fetchMessagesJoinedBetween(int64_t afterJoinRowid,
                                                     int64_t throughJoinRowid,
                                                     int64_t cursorTimestamp, int64_t cursorRowid) {
    sqlite::Statement statement = prepare(chat_db_sql::kFetchMessagesJoinedBetween);
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
    sqlite::Statement statement = prepare(chat_db_sql::kFetchNewestMessagesBehindCursor);
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
        std::string text = statement.columnText(kText);
        if (text.empty() && !statement.isNull(kBodyHex)) {
            const auto* hex =
                reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), kBodyHex));
            const auto hexLength =
                static_cast<size_t>(sqlite3_column_bytes(statement.get(), kBodyHex));
            if (auto body = decodeHex(
                    std::string_view(hex == nullptr ? "" : hex, hex == nullptr ? 0 : hexLength))) {
                text = TypedStreamDecoder::decodeToString(*body).value_or(std::string());
            }
        }
        if (text.empty()) {
            continue;
        }
        const bool isFromMe = statement.columnInt64(kIsFromMe) != 0;
        std::string sender = isFromMe ? std::string("me")
                                      : statement.columnOptionalText(kSenderId).value_or("unknown");
        std::string chatId = statement.columnOptionalText(kChatGuid).value_or("unknown");
        std::optional<std::string> chatName = statement.columnOptionalText(kDisplayName);
        const bool isGroup = statement.columnInt64(kStyle) == kGroupChatStyle;
        result.messages.emplace_back(std::move(*guid), std::move(chatId), std::move(chatName),
                                     std::move(sender), std::move(text), date, isFromMe, isGroup,
                                     false, std::vector<std::string>{}, rowid);
    }
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
