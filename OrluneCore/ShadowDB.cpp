#include "OrluneCore/ShadowDB.hpp"

#include "OrluneCore/ShadowBatchTable.hpp"

#include <chrono>
#include <filesystem>

namespace orlune::core {

namespace {

constexpr std::string_view kBeginTransaction = "BEGIN TRANSACTION";
constexpr std::string_view kCommit = "COMMIT";
constexpr std::string_view kRollback = "ROLLBACK";

constexpr std::string_view kInsertMessage =
    "INSERT OR REPLACE INTO messages\n"
    "(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    " has_attachments, attachment_types, content_hash)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The batch, from the table-valued function over the caller's list, in list
// order.
constexpr std::string_view kWriteBatch =
    "INSERT OR REPLACE INTO messages\n"
    "(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    " has_attachments, attachment_types, content_hash)\n"
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    "       has_attachments, attachment_types, content_hash\n"
    "FROM orlune_shadow_batch(?) ORDER BY seq";

// Counts, on this connection only, the live rows that INSERT OR REPLACE
// deletes (recursive triggers are on, so REPLACE's deletes fire triggers):
// the growth of the live count is then the batch size minus that number,
// with no per-message probe. A row replaced by a later copy in the same batch
// counts too, as it should.
constexpr const char* kCountReplacedFunction = "orlune_shadow_note_replaced";
constexpr const char* kCreateReplacedTrigger =
    "CREATE TEMP TRIGGER IF NOT EXISTS orlune_shadow_replaced\n"
    "AFTER DELETE ON main.messages WHEN old.deleted_at IS NULL BEGIN\n"
    "    SELECT orlune_shadow_note_replaced();\n"
    "END";

void noteReplaced(sqlite3_context* context, int, sqlite3_value**) {
    ++*static_cast<int64_t*>(sqlite3_user_data(context));
    sqlite3_result_null(context);
}

constexpr std::string_view kSelectWatermark =
    "SELECT last_timestamp, last_rowid FROM sync_state WHERE id = 1";

constexpr std::string_view kUpdateSyncState =
    "UPDATE sync_state\n"
    "SET last_timestamp = ?, last_rowid = ?, message_count = ?, updated_at = ?\n"
    "WHERE id = 1";

constexpr std::string_view kCountMessages =
    "SELECT COUNT(*) FROM messages WHERE deleted_at IS NULL";

constexpr std::string_view kDeleteParticipants = "DELETE FROM chat_participants";

constexpr std::string_view kInsertParticipant =
    "INSERT INTO chat_participants (chat_id, handle_id, handle, service)\n"
    "VALUES (?, ?, ?, ?)";

constexpr std::string_view kSelectParticipants = "SELECT chat_id, handle_id, handle, service\n"
                                                 "FROM chat_participants\n"
                                                 "WHERE chat_id = ?\n"
                                                 "ORDER BY handle_id ASC";

constexpr const char* kDatabaseClosed = "Database is closed";

std::string descriptionFor(ShadowDB::Error::Kind kind, const std::string& message) {
    switch (kind) {
    case ShadowDB::Error::Kind::failedToOpen:
        return "Failed to open database: " + message;
    case ShadowDB::Error::Kind::queryFailed:
        return "Query failed: " + message;
    case ShadowDB::Error::Kind::prepareFailed:
        return "Statement preparation failed: " + message;
    case ShadowDB::Error::Kind::insertFailed:
        return "Insert failed: " + message;
    }
    return message;
}

int64_t nowInWholeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

ShadowDB::Error::Error(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)), description_(descriptionFor(kind_, message_)) {}

std::string ShadowDB::defaultShadowDBPath(const Environment& environment) {
    if (auto path = environment.variable("SHADOW_DB_PATH")) {
        return *path;
    }
    std::string folder = joinPath(environment.applicationSupportDirectory(), "Orlune");
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return joinPath(folder, "shadow.db");
}

ShadowDB::ShadowDB(const std::optional<std::string>& path, const Environment& environment)
    : path_(path ? *path : defaultShadowDBPath(environment)) {
    int rc = db_.open(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    if (rc != SQLITE_OK) {
        std::string message = db_.errorMessage();
        db_.close();
        throw Error(Error::Kind::failedToOpen, message);
    }
    for (std::string_view pragma : shadow_schema::kOpenPragmas) {
        execute(pragma); // db_ closes itself if this throws
    }
    if (ShadowBatchTable::registerModule(handle()) != SQLITE_OK) {
        throw Error(Error::Kind::failedToOpen, db_.errorMessage());
    }
}

ShadowDB::~ShadowDB() = default;

void ShadowDB::close() {
    db_.close();
}

void ShadowDB::execute(std::string_view sql) {
    if (handle() == nullptr) {
        throw Error(Error::Kind::queryFailed, kDatabaseClosed);
    }
    std::string error;
    if (sqlite::exec(handle(), std::string(sql).c_str(), error) != SQLITE_OK) {
        throw Error(Error::Kind::queryFailed, error);
    }
}

sqlite::Statement ShadowDB::prepare(std::string_view sql) {
    if (handle() == nullptr) {
        throw Error(Error::Kind::prepareFailed, kDatabaseClosed);
    }
    sqlite::Statement statement;
    if (statement.prepare(handle(), sql) != SQLITE_OK) {
        throw Error(Error::Kind::prepareFailed, db_.errorMessage());
    }
    return statement;
}

void ShadowDB::rollbackAfterFailure() {
    execute(kRollback);
}

void ShadowDB::createSchemaIfNeeded() {
    // One transaction, so that a process stopped part-way never leaves a file
    // with the messages table but without its index or triggers.
    execute(kBeginTransaction);
    try {
        for (std::string_view statement : shadow_schema::kStatements) {
            execute(statement);
        }
        for (std::string_view statement : shadow_schema::kSyncMarksStatements) {
            execute(statement);
        }
        execute(kCommit);
    } catch (const Error&) {
        if (sqlite3_get_autocommit(handle()) == 0) {
            std::string ignored;
            sqlite::exec(handle(), "ROLLBACK", ignored);
        }
        throw;
    }
}

int ShadowDB::insertBatch(const std::vector<ShadowMessage>& messages) {
    return insertMessages(messages, false).written;
}

ShadowDB::BatchResult
ShadowDB::insertBatchCountingGrowth(const std::vector<ShadowMessage>& messages) {
    return insertMessages(messages, true);
}

namespace {

// Binds one message to the eleven parameters of kInsertMessage.
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
}

} // namespace

// A batch is written with one INSERT OR REPLACE ... SELECT over the list.
// Each statement that writes through the full-text triggers runs in a
// statement savepoint, and FTS5 flushes its pending index data to disk at
// every savepoint, so writing row by row turns every message into its own
// index segment and makes a sync several times slower. One statement per
// batch writes the same rows, in the same order, with the same rowids and
// trigger effects.
ShadowDB::BatchResult ShadowDB::insertMessages(const std::vector<ShadowMessage>& messages,
                                               bool countGrowth,
                                               const std::function<void(const BatchResult&)>& beforeCommit) {
    BatchResult result;
    if (messages.empty() && !beforeCommit) {
        return result;
    }
    execute(kBeginTransaction);

    sqlite::Statement write;
    auto abandon = [&] {
        write.finalize();
        rollbackAfterFailure();
    };

    if (countGrowth && !replacedCounterReady_) {
        std::string error;
        if (sqlite3_create_function_v2(handle(), kCountReplacedFunction, 0, SQLITE_UTF8,
                                       &replacedLiveRows_, noteReplaced, nullptr, nullptr,
                                       nullptr) != SQLITE_OK) {
            error = db_.errorMessage();
        } else if (sqlite::exec(handle(), kCreateReplacedTrigger, error) == SQLITE_OK) {
            replacedCounterReady_ = true;
        }
        if (!replacedCounterReady_) {
            abandon();
            throw Error(Error::Kind::prepareFailed, error);
        }
    }
    if (write.prepare(handle(), kWriteBatch) != SQLITE_OK) {
        std::string message = db_.errorMessage();
        abandon();
        throw Error(Error::Kind::prepareFailed, message);
    }

    replacedLiveRows_ = 0;
    ShadowBatchTable::bind(write, 1, messages);
    if (write.step() != SQLITE_DONE) {
        std::string sqliteMessage = db_.errorMessage();
        abandon();
        // Find the message that fails, and SQLite's own words for it.
        auto [guid, reason] = diagnoseFailedBatch(messages);
        throw Error(Error::Kind::insertFailed,
                    "Failed on guid=" + (guid.empty() && !messages.empty() ? messages.front().guid() : guid) + ": " +
                        (reason.empty() ? sqliteMessage : reason));
    }
    write.finalize();

    result.written = static_cast<int>(messages.size());
    if (countGrowth) {
        result.countGrowth = result.written - replacedLiveRows_;
    }
    if (beforeCommit) {
        try {
            beforeCommit(result);
        } catch (const Error&) {
            rollbackAfterFailure();
            throw;
        }
    }
    try {
        execute(kCommit);
    } catch (const Error&) {
        // A COMMIT that fails (a busy or full disk, for instance) can leave
        // the transaction open, which would make every later call on this
        // connection fail; end it so the batch is not half-kept, and report
        // the commit's own failure.
        if (sqlite3_get_autocommit(handle()) == 0) {
            std::string ignored;
            sqlite::exec(handle(), "ROLLBACK", ignored);
        }
        throw;
    }
    result.written = static_cast<int>(messages.size());
    if (countGrowth) {
        result.countGrowth = result.written - replacedLiveRows_;
    }
    return result;
}

std::pair<std::string, std::string>
ShadowDB::diagnoseFailedBatch(const std::vector<ShadowMessage>& messages) {
    // Replays the batch row by row in a transaction that is always rolled
    // back; only used after a batch has failed and been rolled back.
    std::string error;
    if (sqlite::exec(handle(), "BEGIN TRANSACTION", error) != SQLITE_OK) {
        return {};
    }
    std::pair<std::string, std::string> found;
    {
        sqlite::Statement insert;
        if (insert.prepare(handle(), kInsertMessage) == SQLITE_OK) {
            for (const ShadowMessage& message : messages) {
                insert.reset();
                insert.clearBindings();
                bindMessage(insert, message);
                if (insert.step() != SQLITE_DONE) {
                    found = {message.guid(), db_.errorMessage()};
                    break;
                }
            }
        }
    }
    if (sqlite3_get_autocommit(handle()) == 0) {
        sqlite::exec(handle(), "ROLLBACK", error);
    }
    return found;
}

ShadowDB::Watermark ShadowDB::lastSyncWatermark() {
    sqlite::Statement query = prepare(kSelectWatermark);
    Watermark watermark;
    if (query.step() == SQLITE_ROW) {
        watermark.timestamp = query.columnInt64(0);
        watermark.rowid = query.columnInt64(1);
    }
    return watermark;
}

void ShadowDB::updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount) {
    sqlite::Statement update = prepare(kUpdateSyncState);
    update.bindInt64(1, lastTimestamp);
    update.bindInt64(2, lastRowid);
    update.bindInt64(3, messageCount);
    update.bindInt64(4, nowInWholeSeconds());
    if (update.step() != SQLITE_DONE) {
        throw Error(Error::Kind::queryFailed, db_.errorMessage());
    }
}

int64_t ShadowDB::messageCount() {
    sqlite::Statement query = prepare(kCountMessages);
    if (query.step() == SQLITE_ROW) {
        return query.columnInt64(0);
    }
    return 0;
}

void ShadowDB::replaceChatParticipants(const std::vector<ChatParticipant>& participants) {
    execute(kBeginTransaction);
    sqlite::Statement insert;
    try {
        execute(kDeleteParticipants);
        insert = prepare(kInsertParticipant);
        for (const ChatParticipant& participant : participants) {
            insert.reset();
            insert.clearBindings();
            insert.bindText(1, participant.chatId);
            insert.bindInt64(2, participant.handleId);
            insert.bindText(3, participant.handle);
            insert.bindOptionalText(4, participant.service);
            if (insert.step() != SQLITE_DONE) {
                throw Error(Error::Kind::insertFailed, db_.errorMessage());
            }
        }
        insert.reset();
        execute(kCommit);
    } catch (const Error&) {
        insert.finalize();
        rollbackAfterFailure();
        throw;
    }
}

std::vector<ChatParticipant> ShadowDB::fetchChatParticipants(const std::string& chatId) {
    sqlite::Statement query = prepare(kSelectParticipants);
    query.bindText(1, chatId);
    std::vector<ChatParticipant> participants;
    while (query.step() == SQLITE_ROW) {
        // Braces: clang before 16 has no parenthesized aggregate initialisation.
        participants.push_back(ChatParticipant{query.columnText(0), query.columnInt64(1),
                                               query.columnText(2), query.columnOptionalText(3)});
    }
    return participants;
}

} // namespace orlune::core
