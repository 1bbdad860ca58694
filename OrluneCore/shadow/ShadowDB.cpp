#include "shadow/ShadowDB.hpp"

#include "shadow/ShadowBatchTable.hpp"
#include "sql/StoreConnection.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orlune::core {

namespace {

// Runs `sql`, trying again while another connection holds a lock it needs,
// for up to the busy timeout. Switching a new file to WAL can meet a lock
// (another sync making the same file at the same moment) without SQLite
// calling the busy handler.
void execWaitingForLocks(sqlite3* db, std::string_view sql) {
    const auto giveUp = std::chrono::steady_clock::now() + ShadowDBReader::kBusyTimeout;
    for (;;) {
        try {
            sqlite::exec(db, sql);
            return;
        } catch (const sqlite::Error& error) {
            const bool locked =
                error.primaryCode() == SQLITE_BUSY || error.primaryCode() == SQLITE_LOCKED;
            if (!locked || std::chrono::steady_clock::now() >= giveUp) {
                throw;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

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
    " has_attachments, attachment_types, content_hash, edited_at)\n"
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    "       has_attachments, attachment_types, content_hash, edited_at\n"
    "FROM orlune_shadow_batch(?) ORDER BY seq";
// The chats of the messages just written (their earlier rows went with the
// replaced copies).
constexpr std::string_view kWriteBatchChats =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id)\n"
    "SELECT guid, chat_id FROM orlune_shadow_batch(?) WHERE chat_id <> 'unknown'";

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

constexpr std::string_view kUpdateSyncState =
    "UPDATE sync_state\n"
    "SET last_timestamp = ?, last_rowid = ?, message_count = ?, updated_at = ?\n"
    "WHERE id = 1";

constexpr std::string_view kDeleteParticipants = "DELETE FROM chat_participants";

constexpr std::string_view kInsertParticipant =
    "INSERT INTO chat_participants (chat_id, handle_id, handle, service)\n"
    "VALUES (?, ?, ?, ?)";

constexpr std::string_view kSecureDelete = "PRAGMA secure_delete = ON";

constexpr const char* kSidecars[] = {"-wal", "-shm"};

int64_t nowInWholeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Creates an empty file at `path` readable and writable by its owner only
// (SQLite would create it with the umask's mode, and its -wal and -shm files
// take the database file's mode). A file that appeared meanwhile is left
// alone; any other failure is left for SQLite's open to report.
void createOwnerOnlyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

// Takes group and other permissions off the database file and its -wal and
// -shm files (a database made by an older version under a loose umask).
void makeOwnerOnly(const std::string& path) {
    for (const std::string& file : {path, path + kSidecars[0], path + kSidecars[1]}) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            ::chmod(file.c_str(), info.st_mode & S_IRWXU);
        }
    }
}

// Moves the database at `oldPath` to `target` when nothing is at `target`.
// The WAL is folded into the file first so that one rename moves the whole
// database. Leaves everything where it is when the old file is in use (its
// WAL cannot be emptied, or another connection keeps it), is not a shadow
// database, or `target` has -wal/-shm files of its own. Returns why it was
// not moved, or "" (also when there is nothing to move).
std::string adoptOldDatabase(const std::string& oldPath, const std::string& target) {
    if (pathIsMissing(oldPath) || !pathIsMissing(target) || fileProblem(oldPath)) {
        return {};
    }
    for (const char* sidecar : kSidecars) {
        if (!pathIsMissing(target + sidecar)) {
            return target + sidecar + " exists without its database";
        }
    }
    {
        sqlite::Connection old;
        if (old.open(fileUri(oldPath, ""), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI) != SQLITE_OK) {
            return old.errorMessage();
        }
        sqlite3_busy_timeout(old.get(), static_cast<int>(ShadowDBReader::kBusyTimeout.count()));
        try {
            ShadowSchema::checkCompatible(old.get(), oldPath);
        } catch (const ShadowDBError& error) {
            return error.what();
        }
        if (sqlite3_wal_checkpoint_v2(old.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                      nullptr) != SQLITE_OK) {
            return old.errorMessage();
        }
    }
    // Closing the last connection removes the -wal; one still there belongs
    // to a connection of another process.
    if (!pathIsMissing(oldPath + kSidecars[0])) {
        return oldPath + " is in use";
    }
    if (std::rename(oldPath.c_str(), target.c_str()) != 0) {
        return std::strerror(errno);
    }
    ::unlink((oldPath + kSidecars[1]).c_str());
    makeOwnerOnly(target);
    return {};
}

} // namespace

std::string ShadowDB::defaultShadowDBPath(const Environment& environment, std::string& failure) {
    failure.clear();
    if (auto path = environment.variable(kPathVariable)) {
        return *path;
    }
    const std::string dataFolder = environment.applicationSupportDirectory();
    const std::string folder = joinPath(dataFolder, kFolder);
    const std::string path = joinPath(folder, kFileName);
    if (const std::error_code error = createPrivateFolders(folder)) {
        failure = folder + ": " + error.message();
        return path;
    }
    failure = adoptOldDatabase(joinPath(joinPath(dataFolder, kOldFolder), kFileName), path);
    return path;
}

std::string ShadowDB::defaultShadowDBPath(const Environment& environment) {
    std::string ignored;
    return defaultShadowDBPath(environment, ignored);
}

ShadowDB::ShadowDB(const std::optional<std::string>& path, const Environment& environment)
    : ShadowDBReader(Unopened{}, path ? *path : defaultShadowDBPath(environment)) {
    if (auto problem = fileProblem(path_)) {
        throw Error(Error::Kind::failedToOpen, *problem);
    }
    if (pathIsMissing(path_)) {
        createOwnerOnlyFile(path_);
    }
    // Refuses a file of another program or of a newer version untouched.
    openConnection("", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    makeOwnerOnly(path_);
    guarded([&] {
        for (std::string_view pragma : shadow_schema::kOpenPragmas) {
            execWaitingForLocks(handle(), pragma);
        }
    });
    // Deleted rows leave no bytes behind in the file: freed cells and pages
    // are zeroed (deleted messages must not be readable from the file).
    guarded([&] { sqlite::exec(handle(), kSecureDelete); });
    if (ShadowBatchTable::registerModule(handle()) != SQLITE_OK) {
        throw Error(Error::Kind::failedToOpen, db_.errorMessage());
    }
}

ShadowDB::~ShadowDB() = default;

void ShadowDB::createSchemaIfNeeded() {
    guarded([&] { ShadowSchema::migrate(handle()); });
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

void ShadowDB::prepareReplacedCounter() {
    if (replacedCounterReady_) {
        return;
    }
    if (sqlite3_create_function_v2(handle(), kCountReplacedFunction, 0, SQLITE_UTF8,
                                   &replacedLiveRows_, noteReplaced, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
        throw sqlite::Error(sqlite::Error::Stage::prepare, sqlite3_errcode(handle()),
                            db_.errorMessage());
    }
    try {
        sqlite::exec(handle(), kCreateReplacedTrigger);
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
ShadowDB::BatchResult
ShadowDB::insertMessages(const std::vector<ShadowMessage>& messages, bool countGrowth,
                         const std::function<void(const BatchResult&)>& beforeCommit) {
    BatchResult result;
    if (messages.empty() && !beforeCommit) {
        return result;
    }
    return guarded([&] {
        sqlite::Transaction transaction(handle());
        if (countGrowth) {
            prepareReplacedCounter();
        }
        sqlite::Statement write = db_.prepare(kWriteBatch);
        replacedLiveRows_ = 0;
        ShadowBatchTable::bind(write, 1, messages);
        try {
            write.run();
        } catch (const sqlite::Error& error) {
            const std::string sqliteMessage = Error::fromSQLite(error, path_).message();
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
        if (!messages.empty() && hasTable("message_chats")) {
            sqlite::Statement chats = db_.prepare(kWriteBatchChats);
            ShadowBatchTable::bind(chats, 1, messages);
            chats.run();
        }
        if (!messages.empty() && hasTable("message_emoji")) {
            writeEmoji(messages);
        }
        if (!messages.empty() && hasTable("spaced_texts")) {
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
ShadowDB::diagnoseFailedBatch(const std::vector<ShadowMessage>& messages) {
    // Replays the batch row by row in a transaction that is always rolled
    // back; only used after a batch has failed and been rolled back.
    try {
        sqlite::Transaction replay(handle());
        sqlite::Statement insert = db_.prepare(kInsertMessage);
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

void ShadowDB::updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount) {
    guarded([&] {
        sqlite::Statement update = db_.prepare(kUpdateSyncState);
        update.bindInt64(1, lastTimestamp);
        update.bindInt64(2, lastRowid);
        update.bindInt64(3, messageCount);
        update.bindInt64(4, nowInWholeSeconds());
        update.run();
    });
}

void ShadowDB::replaceChatParticipants(const std::vector<ChatParticipant>& participants) {
    guarded([&] {
        sqlite::Transaction transaction(handle());
        sqlite::exec(handle(), kDeleteParticipants);
        sqlite::Statement insert = db_.prepare(kInsertParticipant);
        for (const ChatParticipant& participant : participants) {
            insert.reset();
            insert.clearBindings();
            insert.bindText(1, participant.chatId);
            insert.bindInt64(2, participant.handleId);
            insert.bindText(3, participant.handle);
            insert.bindOptionalText(4, participant.service);
            try {
                insert.run();
            } catch (const sqlite::Error& error) {
                throw Error(Error::Kind::insertFailed, Error::fromSQLite(error, path_).message());
            }
        }
        insert.finalize();
        transaction.commit();
    });
}

} // namespace orlune::core
