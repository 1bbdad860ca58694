#pragma once
// The shadow database: Orlune's private, read-write copy of the messages, with
// its full-text index, chat membership and sync cursor.
//
// The schema is an external interface (the helper process reads the file with
// its own SQL), so table, column and index names never change; the statements
// below are the whole of it.

#include "OrluneCore/ChatParticipant.hpp"
#include "OrluneCore/ColumnInfo.hpp"
#include "OrluneCore/QueryBounds.hpp"
#include "OrluneCore/ReadOnlyQuery.hpp"
#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/ShadowQueryResult.hpp"
#include "OrluneCore/Environment.hpp"
#include "OrluneCore/SQLite.hpp"
#include "OrluneCore/ShadowMessage.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orlune::core {

namespace shadow_schema {

inline constexpr std::string_view kCreateMessages = "CREATE TABLE IF NOT EXISTS messages (\n"
                                                    "    rowid INTEGER PRIMARY KEY,\n"
                                                    "    guid TEXT UNIQUE NOT NULL,\n"
                                                    "    chat_id TEXT NOT NULL,\n"
                                                    "    chat_name TEXT,\n"
                                                    "    sender TEXT NOT NULL,\n"
                                                    "    text TEXT NOT NULL,\n"
                                                    "    timestamp INTEGER NOT NULL,\n"
                                                    "    is_from_me INTEGER NOT NULL,\n"
                                                    "    is_group INTEGER NOT NULL,\n"
                                                    "    has_attachments INTEGER DEFAULT 0,\n"
                                                    "    attachment_types TEXT,\n"
                                                    "    content_hash TEXT,\n"
                                                    "    edited_at INTEGER,\n"
                                                    "    deleted_at INTEGER\n"
                                                    ")";

inline constexpr std::string_view kCreateMessagesFts =
    "CREATE VIRTUAL TABLE IF NOT EXISTS messages_fts USING fts5(\n"
    "    text,\n"
    "    chat_name,\n"
    "    sender,\n"
    "    content='messages',\n"
    "    content_rowid='rowid'\n"
    ")";

inline constexpr std::string_view kCreateFtsInsertTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_insert AFTER INSERT ON messages BEGIN\n"
    "    INSERT INTO messages_fts(rowid, text, chat_name, sender)\n"
    "    VALUES (new.rowid, new.text, new.chat_name, new.sender);\n"
    "END";

inline constexpr std::string_view kCreateFtsDeleteTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_delete AFTER DELETE ON messages BEGIN\n"
    "    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)\n"
    "    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);\n"
    "END";

inline constexpr std::string_view kCreateFtsUpdateTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_update AFTER UPDATE ON messages BEGIN\n"
    "    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)\n"
    "    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);\n"
    "    INSERT INTO messages_fts(rowid, text, chat_name, sender)\n"
    "    VALUES (new.rowid, new.text, new.chat_name, new.sender);\n"
    "END";

inline constexpr std::string_view kCreateIndexChat =
    "CREATE INDEX IF NOT EXISTS idx_messages_chat ON messages(chat_id)";
inline constexpr std::string_view kCreateIndexTimestamp =
    "CREATE INDEX IF NOT EXISTS idx_messages_timestamp ON messages(timestamp DESC)";
inline constexpr std::string_view kCreateIndexSender =
    "CREATE INDEX IF NOT EXISTS idx_messages_sender ON messages(sender)";
inline constexpr std::string_view kCreateIndexChatTime =
    "CREATE INDEX IF NOT EXISTS idx_messages_chat_time ON messages(chat_id, timestamp DESC)";
inline constexpr std::string_view kCreateIndexGuid =
    "CREATE INDEX IF NOT EXISTS idx_messages_guid ON messages(guid)";

inline constexpr std::string_view kCreateChatParticipants =
    "CREATE TABLE IF NOT EXISTS chat_participants (\n"
    "    chat_id TEXT NOT NULL,\n"
    "    handle_id INTEGER NOT NULL,\n"
    "    handle TEXT NOT NULL,\n"
    "    service TEXT,\n"
    "    PRIMARY KEY (chat_id, handle_id)\n"
    ")";
inline constexpr std::string_view kCreateIndexParticipantsChat =
    "CREATE INDEX IF NOT EXISTS idx_chat_participants_chat ON chat_participants(chat_id)";
inline constexpr std::string_view kCreateIndexParticipantsHandle =
    "CREATE INDEX IF NOT EXISTS idx_chat_participants_handle ON chat_participants(handle)";

inline constexpr std::string_view kCreateSyncState =
    "CREATE TABLE IF NOT EXISTS sync_state (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    last_timestamp INTEGER NOT NULL DEFAULT 0,\n"
    "    last_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    message_count INTEGER NOT NULL DEFAULT 0,\n"
    "    updated_at INTEGER NOT NULL\n"
    ")";
inline constexpr std::string_view kSeedSyncState =
    "INSERT OR IGNORE INTO sync_state (id, last_timestamp, last_rowid, updated_at) "
    "VALUES (1, 0, 0, 0)";

// The whole schema, in the order it is created.
inline constexpr std::array<std::string_view, 15> kStatements = {
    kCreateMessages,
    kCreateMessagesFts,
    kCreateFtsInsertTrigger,
    kCreateFtsDeleteTrigger,
    kCreateFtsUpdateTrigger,
    kCreateIndexChat,
    kCreateIndexTimestamp,
    kCreateIndexSender,
    kCreateIndexChatTime,
    kCreateIndexGuid,
    kCreateChatParticipants,
    kCreateIndexParticipantsChat,
    kCreateIndexParticipantsHandle,
    kCreateSyncState,
    kSeedSyncState,
};

// Added to the schema above, never changing it: where the sync engine's
// catch-up checks stand in the store (see ShadowSync). One row, id = 1.
//   message_rowid    every store message row with a ROWID up to this one has
//                    been read, or still lies ahead of the sync cursor
//   join_rowid       chat_message_join rows up to this rowid have been seen
//   join_message_id, join_chat_id
//                    the join row at join_rowid when it was seen, to notice
//                    the store reusing that rowid after deleting the row
inline constexpr std::string_view kCreateSyncMarks =
    "CREATE TABLE IF NOT EXISTS sync_marks (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    message_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    join_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    join_message_id INTEGER NOT NULL DEFAULT 0,\n"
    "    join_chat_id INTEGER NOT NULL DEFAULT 0\n"
    ")";
inline constexpr std::string_view kSeedSyncMarks =
    "INSERT OR IGNORE INTO sync_marks (id) VALUES (1)";
inline constexpr std::array<std::string_view, 2> kSyncMarksStatements = {kCreateSyncMarks,
                                                                         kSeedSyncMarks};

// Run on every connection when it is opened, in this order. Recursive
// triggers are set explicitly, whatever the SQLite build's default: with
// them on, the row that INSERT OR REPLACE deletes fires messages_fts_delete,
// so the full-text index keeps exactly one entry per stored message. The last
// two only tune this connection (nothing is stored in the file): a page cache
// of at most 64 MB, and statement journals and temporary tables in memory,
// which makes a batch write about an eighth faster than with a temporary
// file.
inline constexpr std::array<std::string_view, 6> kOpenPragmas = {
    "PRAGMA journal_mode = WAL",      "PRAGMA synchronous = NORMAL", "PRAGMA foreign_keys = ON",
    "PRAGMA recursive_triggers = ON", "PRAGMA cache_size = -65536",  "PRAGMA temp_store = MEMORY",
};

} // namespace shadow_schema

// One read-write connection to a shadow database file. Owns the connection and
// closes it on close() or destruction; not copyable or movable (callers share
// it by reference). Every operation is synchronous on the calling thread and
// prepares and finalizes its own statements, so none stays open between calls.
// The connection is in serialized mode, but transactions span one call: two
// threads must not interleave insertBatch or replaceChatParticipants calls.
// Every failure is thrown as ShadowDB::Error.
class ShadowDB {
public:
    class Error : public std::exception {
    public:
        enum class Kind { failedToOpen, queryFailed, prepareFailed, insertFailed };

        Error(Kind kind, std::string message);

        Kind kind() const { return kind_; }
        // SQLite's message (or the operation's own text) without the prefix.
        const std::string& message() const { return message_; }
        // The user-facing description: a fixed prefix for the kind, then the
        // message.
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        Kind kind_;
        std::string message_;
        std::string description_;
    };

    struct Watermark {
        int64_t timestamp = 0;
        int64_t rowid = 0;
    };

    // The row of sync_marks (all 0 for a new database, or one synced before
    // the table existed).
    struct SyncMarks {
        int64_t messageRowid = 0;
        int64_t joinRowid = 0;
        int64_t joinMessageId = 0;
        int64_t joinChatId = 0;
        bool operator==(const SyncMarks&) const = default;
    };

    // SHADOW_DB_PATH exactly as set when present; otherwise "shadow.db" in the
    // folder "Orlune" of the per-user data folder, which is created (with its
    // parents) when missing; a failure to create it is ignored here and shows
    // up when the file is opened.
    static std::string defaultShadowDBPath(const Environment& environment = Environment::process());

    // Opens (creating when missing) the file at `path`, or at
    // defaultShadowDBPath() when absent, and sets the connection's pragmas.
    // Does not create the schema. Throws failedToOpen, or queryFailed when a
    // pragma fails.
    explicit ShadowDB(const std::optional<std::string>& path = std::nullopt,
                      const Environment& environment = Environment::process());
    ~ShadowDB();
    ShadowDB(const ShadowDB&) = delete;
    ShadowDB& operator=(const ShadowDB&) = delete;

    const std::string& databasePath() const { return path_; }

    // Creates whatever part of the schema (and of sync_marks) is missing;
    // never alters an existing table. Throws queryFailed at the first
    // statement that fails.
    void createSchemaIfNeeded();

    // Inserts or replaces (by guid) every message in one transaction and
    // returns how many were written (new or replacing), not the growth of the
    // table. An empty list returns 0 without touching the database. All or
    // nothing: on failure the batch is rolled back and prepareFailed or
    // insertFailed ("Failed on guid=<guid>: <SQLite's message>") is thrown, or
    // queryFailed when BEGIN, ROLLBACK or COMMIT fails.
    int insertBatch(const std::vector<ShadowMessage>& messages);

    struct BatchResult {
        int written = 0;         // what insertBatch returns
        int64_t countGrowth = 0; // how much messageCount() grew
    };
    // As insertBatch, and also reports how much messageCount() grew, so that a
    // caller keeping the count up to date need not count the whole table
    // after every batch: a message whose guid was not stored (or was stored
    // with deleted_at set) adds one, replacing a live copy adds none.
    BatchResult insertBatchCountingGrowth(const std::vector<ShadowMessage>& messages);

    // One page of a sync pass in one transaction: inserts or replaces the
    // messages (as insertBatchCountingGrowth), then stores the cursor, the
    // count `countBefore` plus the batch's growth, the current time and
    // `marks`. A process stopped at any moment leaves either the whole page
    // with its cursor or neither. An empty list still stores cursor and marks.
    // Throws as insertBatch; on failure nothing of the page is kept.
    BatchResult commitSyncPage(const std::vector<ShadowMessage>& messages, const Watermark& cursor,
                               int64_t countBefore, const SyncMarks& marks);

    // The catch-up marks. Throws prepareFailed.
    SyncMarks syncMarks();

    // Of `candidates` (rows read from the store, several per guid for a
    // message in several chats, the most recent chat last), the ones to write
    // so that the stored copy of each guid matches the store: none when the
    // stored row has the chat of one of the guid's rows and that row's name,
    // sender, text, time and flags; otherwise that row when its chat matches,
    // else the guid's last row. Order of first appearance. Throws
    // prepareFailed.
    std::vector<ShadowMessage> messagesToWrite(const std::vector<ShadowMessage>& candidates);

    // The sync cursor; (0, 0) for a fresh database. Throws prepareFailed.
    Watermark lastSyncWatermark();

    // Stores the cursor, the message count and the current time (whole
    // seconds since 1970-01-01 UTC). Throws prepareFailed or queryFailed.
    void updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount);

    // Messages whose deleted_at is NULL. Throws prepareFailed (for instance on
    // a file without the schema).
    int64_t messageCount();

    // Replaces the whole membership table in one transaction; an empty list
    // empties it. On failure (for instance a duplicate chat/handle pair) the
    // previous membership stays and the error is thrown (insertFailed,
    // prepareFailed or queryFailed).
    void replaceChatParticipants(const std::vector<ChatParticipant>& participants);

    // The members of one chat, in handle_id order. Throws prepareFailed.
    std::vector<ChatParticipant> fetchChatParticipants(const std::string& chatId);

    // Closes the connection; later calls do nothing. Operations on a closed
    // database throw (prepareFailed or queryFailed, "Database is closed").
    void close();

    // ---- Read-only access (ShadowDBQuery.cpp) ----

    // Opens an existing shadow database for reading only: the file is never
    // created or written (no pragmas are set, no schema is made), so another
    // process may keep syncing into it. executeReadOnly, listTables,
    // describeTable, schemaVersion, search and messageCount work on it; write
    // operations fail. Throws failedToOpen (for instance when the file does
    // not exist).
    static std::unique_ptr<ShadowDB> openReadOnly(const std::string& path);

    // Runs one statement that cannot change the database or this connection
    // and returns at most `limit` rows (100 when `limit` <= 0). Refusals throw
    // queryFailed: "SQL query must not be empty", "Only read-only SQL
    // statements are allowed", "Only a single SQL statement is allowed", or a
    // reason for ATTACH/DETACH, transaction or savepoint control, REINDEX,
    // ANALYZE, VACUUM, load_extension and pragmas other than a few that only
    // read. A statement still running after `timeLimit` is stopped with
    // queryFailed. A statement that does not prepare throws prepareFailed;
    // SQLite's step errors throw queryFailed. Holds the connection's mutex
    // for the whole call.
    ShadowQueryResult executeReadOnly(
        const std::string& sql, int limit,
        std::chrono::milliseconds timeLimit = ReadOnlyQuery::kDefaultTimeLimit);
    // As above within `bounds` (ReadOnlyQuery::execute): a value larger than
    // bounds.maxValueBytes fails with queryFailed, cells and the result are
    // cut to their sizes and the result says so.
    ShadowQueryResult executeReadOnly(const std::string& sql, int limit, const QueryBounds& bounds);
    // Tables and views by name (FTS5's own tables included, SQLite's left
    // out). Throws prepareFailed.
    std::vector<std::string> listTables();
    // The columns of `table`; an empty list for a well-formed name of no
    // table. Throws queryFailed ("Invalid table name: <as passed>") for a
    // name that is not one plain identifier, or prepareFailed.
    std::vector<ColumnInfo> describeTable(const std::string& table);
    // PRAGMA schema_version (0 when it gives no row). Throws prepareFailed.
    int64_t schemaVersion();

    // ---- Full-text search (ShadowDBSearch.cpp) ----

    // At most `limit` messages matching the FTS5 expression `query` (handed
    // to FTS5 unchanged, up to its first NUL), best bm25 rank first; a
    // negative limit means no limit. An expression FTS5 rejects gives an
    // empty list, and a failure while stepping ends the list early; only a
    // statement that cannot be prepared (no schema, closed database) throws
    // prepareFailed.
    // Runs within QueryBounds' defaults (see the overload below) and drops
    // what it says about cuts.
    std::vector<SearchResult> search(const std::string& query, int limit);

    // What a bounded search found, and what its size bounds left out.
    struct SearchOutcome {
        std::vector<SearchResult> results;
        // Texts (message texts, senders, chat names) cut to
        // bounds.maxCellBytes.
        size_t cutTexts = 0;
        // True when the results reached bounds.maxResultBytes and no further
        // row was read.
        bool stoppedAtSizeLimit = false;
    };
    // search() within `bounds`: an expression longer than maxMatchBytes, or
    // with more terms or prefix terms than allowed, is refused with
    // queryFailed before anything runs; a search still running after
    // timeLimit is stopped with queryFailed ("The search took longer than
    // N s and was stopped"); texts are cut to maxCellBytes, and reading stops
    // once the results hold maxResultBytes. Holds the connection's mutex for
    // the whole call.
    SearchOutcome search(const std::string& query, int limit, const QueryBounds& bounds);

    // The text of the queryFailed thrown when a search runs out of time.
    static std::string searchTimeLimitMessage(const QueryBounds& bounds);

private:
    struct ReadOnlyTag {};
    ShadowDB(ReadOnlyTag, std::string path);

    // Writes the messages in one transaction; `beforeCommit`, when given,
    // runs inside it after the last message (and even for an empty list).
    BatchResult insertMessages(const std::vector<ShadowMessage>& messages, bool countGrowth,
                               const std::function<void(const BatchResult&)>& beforeCommit = {});
    // After a failed batch: the guid of the first message that cannot be
    // written on its own and SQLite's message for it (empty when none fails).
    std::pair<std::string, std::string>
    diagnoseFailedBatch(const std::vector<ShadowMessage>& messages);
    // Runs one or more statements through sqlite3_exec; throws queryFailed.
    void execute(std::string_view sql);
    // Prepares `sql` on the connection; throws prepareFailed.
    sqlite::Statement prepare(std::string_view sql);
    // Rolls back the open transaction after a failure. Throws the rollback's
    // own failure (queryFailed); otherwise returns and the caller throws the
    // original error.
    void rollbackAfterFailure();
    sqlite3* handle() const { return db_.get(); }

    sqlite::Connection db_;
    std::string path_;
    // Live rows deleted by REPLACE during the current batch, counted by a
    // temporary trigger of this connection (set up on first use).
    int64_t replacedLiveRows_ = 0;
    bool replacedCounterReady_ = false;
};

} // namespace orlune::core
