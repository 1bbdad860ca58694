#pragma once
// A read-only handle to the shadow database, for everything that only looks:
// search, the command-line tool's read verbs, the helper's tools, the message
// count. It has no write operation at all; ShadowDB extends it with the
// writes of the sync. Both are facades over one connection
// (ShadowConnection) and the table groups that work on it: the messages
// (ShadowMessageTables), the sync's record (ShadowSyncTables), people and
// chats (ShadowPeopleTables), reactions and attachments
// (ShadowReactionsAndAttachments) and the full-text search
// (ShadowSearchIndex).

#include "records/ChatParticipant.hpp"
#include "records/MessageScope.hpp"
#include "records/SearchResult.hpp"
#include "records/ShadowMessage.hpp"
#include "shadow/ShadowConnection.hpp"
#include "shadow/ShadowCoverage.hpp"
#include "shadow/ShadowMessageTables.hpp"
#include "shadow/ShadowPeople.hpp"
#include "shadow/ShadowPeopleTables.hpp"
#include "shadow/ShadowReactionsAndAttachments.hpp"
#include "shadow/ShadowSearchIndex.hpp"
#include "shadow/ShadowSyncTables.hpp"
#include "sql/ColumnInfo.hpp"
#include "sql/QueryBounds.hpp"
#include "sql/ReadOnlyQuery.hpp"
#include "sql/SQLite.hpp"
#include "sql/ShadowDBError.hpp"
#include "sql/ShadowQueryResult.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

// One connection to a shadow database file, opened for reading only. Owns the
// connection and closes it on close() or destruction; not copyable or
// movable. Every operation is synchronous on the calling thread and prepares
// and finalizes its own statements. Every failure is thrown as
// ShadowDBReader::Error (ShadowDBError); a step that fails is an error, never
// a short answer, and a damaged file is named as such.
//
// The file is read literally (a path that begins "file:" or holds "?", "#"
// or "%" names a file, never a URI) and never created or written: no pragma
// is set and no schema made, so a sync may keep writing to it meanwhile.
// While a writer holds a lock the handle waits up to kBusyTimeout. Reading a
// database in WAL mode needs its -wal and -shm files: SQLite creates them
// beside the database when they are missing, with the database file's own
// permissions (0600 for a file Orlune made), and leaves them there.
class ShadowDBReader {
public:
    using Error = ShadowDBError;

    using Watermark = ShadowSyncTables::Watermark;
    using SyncMarks = ShadowSyncTables::SyncMarks;
    using SearchOutcome = ShadowSearchIndex::Outcome;
    using MessageContext = ShadowMessageTables::Context;

    // How long a statement waits for a lock another connection holds (a sync
    // committing a page, a schema upgrade) before it fails as busy.
    static constexpr std::chrono::milliseconds kBusyTimeout = ShadowConnection::kBusyTimeout;

    // Opens the existing shadow database at `path` for reading. Throws
    // failedToOpen when nothing is there, when the path is a folder, a FIFO or
    // looping links, when SQLite cannot open it, and when the file is not a
    // shadow database or was written by a newer version (ShadowSchema). A
    // file with no tables (never synced) opens; its reads then fail with
    // prepareFailed ("no such table").
    explicit ShadowDBReader(const std::string& path);
    virtual ~ShadowDBReader();
    ShadowDBReader(const ShadowDBReader&) = delete;
    ShadowDBReader& operator=(const ShadowDBReader&) = delete;

    const std::string& databasePath() const { return connection_.path(); }

    // The schema version the file records (ShadowSchema). Throws queryFailed.
    int storedVersion();

    // Messages whose deleted_at is NULL. Throws prepareFailed (for instance on
    // a file without the schema) or queryFailed.
    int64_t messageCount();

    // ---- What is covered (ShadowCoverage.cpp) ----
    // The first and last dates of the copied messages; absent when none is
    // copied. Throws prepareFailed or queryFailed.
    std::optional<MessageTimeSpan> messageTimeSpan();
    // Every figure of Coverage. Throws prepareFailed or queryFailed.
    Coverage coverage();

    // The sync cursor; (0, 0) for a fresh database. Throws prepareFailed or
    // queryFailed.
    Watermark lastSyncWatermark();

    // The catch-up marks. Throws prepareFailed or queryFailed.
    SyncMarks syncMarks();

    // The members of one chat, in handle_id order. Throws prepareFailed or
    // queryFailed.
    std::vector<ChatParticipant> fetchChatParticipants(const std::string& chatId);

    // Closes the connection; later calls do nothing. Operations on a closed
    // database throw (prepareFailed or queryFailed, "Database is closed").
    void close();

    // ---- The read-only query surface (ShadowDBQuery.cpp) ----

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
    ShadowQueryResult
    executeReadOnly(const std::string& sql, int limit,
                    std::chrono::milliseconds timeLimit = ReadOnlyQuery::kDefaultTimeLimit);
    // As above within `bounds` (ReadOnlyQuery::execute): a value larger than
    // bounds.maxValueBytes fails with queryFailed, cells and the result are
    // cut to their sizes and the result says so.
    ShadowQueryResult executeReadOnly(const std::string& sql, int limit, const QueryBounds& bounds);
    // Tables and views by name (FTS5's own tables included, SQLite's left
    // out). Throws prepareFailed or queryFailed.
    std::vector<std::string> listTables();
    // The columns of `table`; an empty list for a well-formed name of no
    // table. Throws queryFailed ("Invalid table name: <as passed>") for a
    // name that is not one plain identifier, or prepareFailed.
    std::vector<ColumnInfo> describeTable(const std::string& table);
    // PRAGMA schema_version (0 when it gives no row). Throws prepareFailed or
    // queryFailed.
    int64_t schemaVersion();

    // ---- Full-text search (ShadowSearchIndex) ----

    // At most `limit` messages matching the FTS5 expression `query` (handed
    // to FTS5 unchanged, up to its first NUL), best bm25 rank first; a
    // negative limit means no limit. An expression FTS5 rejects as malformed
    // gives an empty list. Throws prepareFailed when the statement cannot be
    // prepared (no schema, closed database) and queryFailed for any other
    // failure while reading (a damaged file, an interrupted statement).
    // Runs within QueryBounds' defaults (see the overload below) and drops
    // what it says about cuts.
    std::vector<SearchResult> search(const std::string& query, int limit);

    // The reactions standing on a message, oldest first, and its attachments
    // in order (ShadowReactionsAndAttachments). Empty for a database made before these
    // tables existed. Throw prepareFailed or queryFailed.
    std::vector<StoredReaction> reactionsOn(const std::string& guid);
    // Whether the database has the table `name` (tables come with schema
    // versions). Throws prepareFailed or queryFailed.
    bool hasTable(std::string_view name);
    std::vector<ShadowAttachment> attachmentsOf(const std::string& guid);

    // search() within `bounds`: an expression longer than maxMatchBytes, or
    // with more terms or prefix terms than allowed, is refused with
    // queryFailed before anything runs; a search still running after
    // timeLimit is stopped with queryFailed ("The search took longer than
    // N s and was stopped"); texts are cut to maxCellBytes, and reading stops
    // once the results hold maxResultBytes. Holds the connection's mutex for
    // the whole call.
    SearchOutcome search(const std::string& query, int limit, const QueryBounds& bounds);
    // search() within `bounds`, of the messages in `scope` only. An empty
    // `query` with a restricted scope lists the scope's newest messages
    // first (rank 0); with an unrestricted scope it finds nothing, as
    // before.
    SearchOutcome search(const std::string& query, const MessageScope& scope, int limit,
                         const QueryBounds& bounds);

    // ---- People and chats (ShadowPeopleTables) ----

    // The people and their handles as the last sync stored them (links carry
    // handle text, ROWID 0); empty for a database from before they were
    // kept. Throws prepareFailed or queryFailed.
    People people();
    // Every chat with its title; empty for a database from before chats were
    // kept. Throws prepareFailed or queryFailed.
    std::vector<ChatTitleRow> chats();
    // Every handle text the database knows: senders, chat members and known
    // people's handles, each once. Throws prepareFailed or queryFailed.
    std::vector<std::string> knownHandles();
    // The handles `typed` names, within bounds however many people the
    // address books hold (ShadowPeopleTables::handlesNamed).
    ShadowPeopleTables::NamedHandles handlesNamed(std::string_view typed,
                                                  const std::string& defaultRegion);
    // The people `text` may mention, within bounds
    // (ShadowPeopleTables::peopleMentionable).
    People peopleMentionable(std::string_view text);
    // The display name of the person with `handle`, if any.
    std::optional<std::string> nameOfHandle(const std::string& handle);
    // The person behind each of `handles` that has one, by handle
    // (ShadowPeopleTables::ownersOf).
    std::map<std::string, ShadowPeopleTables::HandleOwner>
    ownersOf(const std::vector<std::string>& handles);
    // Whether the people and chats tables exist (a database at version 3 or
    // later). Throws prepareFailed or queryFailed.
    bool hasPeopleTables();

    // The text of the queryFailed thrown when a search runs out of time.
    static std::string searchTimeLimitMessage(const QueryBounds& bounds);

    // ---- The messages around one message (ShadowMessageTables) ----

    // The message with `guid` and its neighbours (negative counts read as
    // 0), within `bounds`: texts cut to maxCellBytes, reading stops once the
    // results hold maxResultBytes (the message first, then the neighbours
    // before it and then those after it, each side nearest first), and a read still running after
    // timeLimit throws queryFailed. Throws prepareFailed (no schema, closed database) or
    // queryFailed. Holds the connection's mutex for the whole call.
    MessageContext messageContext(const std::string& guid, int before, int after,
                                  const QueryBounds& bounds);
    // The thread of the message with `guid` without it (its first message
    // and the replies to that, oldest first, at most `limit`); empty for a
    // message in no thread and a database made before threads were kept
    // (ShadowMessageTables::thread).
    std::vector<SearchResult> messageThread(const std::string& guid, int limit,
                                            const QueryBounds& bounds);
    // The guid of the message that starts the thread the message with `guid`
    // replies in; absent when it replies in none
    // (ShadowMessageTables::threadOriginatorOf).
    std::optional<std::string> threadOriginatorOf(const std::string& guid);

protected:
    // For ShadowDB, which opens the connection itself.
    struct Unopened {};
    ShadowDBReader(Unopened, std::string path);

    sqlite3* handle() const { return connection_.handle(); }

    // The connection, then the table groups that work through it.
    ShadowConnection connection_;
    ShadowMessageTables messages_{connection_};
    ShadowSyncTables sync_{connection_};
    ShadowPeopleTables people_{connection_};
    ShadowReactionsAndAttachments reactionsAndAttachments_{connection_};
    ShadowSearchIndex searchIndex_{connection_};
};

} // namespace orlune::core
