#pragma once
// Read-only access to the operating system's messaging store (chat.db).

#include "base/Environment.hpp"
#include "records/ChatParticipant.hpp"
#include "records/LeftOutCounts.hpp"
#include "records/ShadowMessage.hpp"
#include "sql/SQLite.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orlune::core {

namespace chat_db_sql {

// The leading "m.date >= ?1" changes no result (both alternatives imply it)
// but lets SQLite seek the date index to the cursor: with the cursor as a
// bound parameter, the bare OR makes it walk the index from the oldest row on
// every page, so a pass over an unchanged store, and each page of a first
// sync, cost time in proportion to the whole store.
inline constexpr std::string_view kFetchMessages =
    "SELECT\n"
    "    m.ROWID,\n"
    "    m.guid,\n"
    "    m.text,\n"
    "    HEX(m.attributedBody),\n"
    "    m.date,\n"
    "    m.is_from_me,\n"
    "    h.id as sender_id,\n"
    "    c.guid as chat_guid,\n"
    "    c.display_name,\n"
    "    c.style\n"
    "FROM message m\n"
    "LEFT JOIN handle h ON m.handle_id = h.ROWID\n"
    "LEFT JOIN chat_message_join cmj ON m.ROWID = cmj.message_id\n"
    "LEFT JOIN chat c ON cmj.chat_id = c.ROWID\n"
    "WHERE m.date >= ?1 AND ((m.date > ?1) OR (m.date = ?2 AND m.ROWID > ?3))\n"
    "ORDER BY m.date ASC, m.ROWID ASC\n"
    "LIMIT ?4";

inline constexpr std::string_view kFetchChatParticipants =
    "SELECT\n"
    "    c.guid as chat_guid,\n"
    "    h.ROWID as handle_rowid,\n"
    "    h.id as handle_id,\n"
    "    h.service as service\n"
    "FROM chat_handle_join chj\n"
    "JOIN chat c ON chj.chat_id = c.ROWID\n"
    "JOIN handle h ON chj.handle_id = h.ROWID\n"
    "ORDER BY c.guid ASC, h.ROWID ASC";

inline constexpr std::string_view kCountMessages = "SELECT COUNT(*) FROM message";

// The catch-up reads. They return the same columns as kFetchMessages (so rows
// are normalised the same way), select rows by ROWID instead of by the
// (date, ROWID) cursor, and order a message's chat rows by the join's own
// rowid, so that for a message in several chats the most recent join comes
// last.
#define ORLUNE_CHAT_DB_MESSAGE_COLUMNS                                                             \
    "SELECT\n"                                                                                     \
    "    m.ROWID,\n"                                                                               \
    "    m.guid,\n"                                                                                \
    "    m.text,\n"                                                                                \
    "    HEX(m.attributedBody),\n"                                                                 \
    "    m.date,\n"                                                                                \
    "    m.is_from_me,\n"                                                                          \
    "    h.id as sender_id,\n"                                                                     \
    "    c.guid as chat_guid,\n"                                                                   \
    "    c.display_name,\n"                                                                        \
    "    c.style\n"                                                                                \
    "FROM message m\n"                                                                             \
    "LEFT JOIN handle h ON m.handle_id = h.ROWID\n"                                                \
    "LEFT JOIN chat_message_join cmj ON m.ROWID = cmj.message_id\n"                                \
    "LEFT JOIN chat c ON cmj.chat_id = c.ROWID\n"

// Rows with ROWID in (?1, ?2] that lie at or behind the cursor (?3, ?4): rows
// the (date, ROWID) cursor has already passed.
inline constexpr std::string_view kFetchMessagesByRowidBehindCursor =
    ORLUNE_CHAT_DB_MESSAGE_COLUMNS "WHERE m.ROWID > ?1 AND m.ROWID <= ?2\n"
                                   "  AND (m.date < ?3 OR (m.date = ?3 AND m.ROWID <= ?4))\n"
                                   "ORDER BY m.ROWID ASC, cmj.rowid ASC";

// The messages joined to a chat by a join row with rowid in (?1, ?2] that lie
// at or behind the cursor (?3, ?4).
inline constexpr std::string_view kFetchMessagesJoinedBetween = ORLUNE_CHAT_DB_MESSAGE_COLUMNS
    "WHERE m.ROWID IN (SELECT message_id FROM chat_message_join WHERE rowid > ?1 AND rowid <= ?2)\n"
    "  AND (m.date < ?3 OR (m.date = ?3 AND m.ROWID <= ?4))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";

// The ?1 newest rows by ROWID that lie at or behind the cursor (?2, ?3).
inline constexpr std::string_view kFetchNewestMessagesBehindCursor = ORLUNE_CHAT_DB_MESSAGE_COLUMNS
    "WHERE m.ROWID IN (SELECT ROWID FROM message ORDER BY ROWID DESC LIMIT ?1)\n"
    "  AND (m.date < ?2 OR (m.date = ?2 AND m.ROWID <= ?3))\n"
    "ORDER BY m.ROWID ASC, cmj.rowid ASC";

#undef ORLUNE_CHAT_DB_MESSAGE_COLUMNS

inline constexpr std::string_view kMaxMessageRowid = "SELECT MAX(ROWID) FROM message";
inline constexpr std::string_view kMaxJoinRowid = "SELECT MAX(rowid) FROM chat_message_join";
inline constexpr std::string_view kNthRowidAfter =
    "SELECT ROWID FROM message WHERE ROWID > ? ORDER BY ROWID ASC LIMIT 1 OFFSET ?";
inline constexpr std::string_view kJoinAt =
    "SELECT message_id, chat_id FROM chat_message_join WHERE rowid = ?";

inline constexpr std::string_view kTableColumns = "SELECT name FROM pragma_table_info(?)";

// The store's message table is AUTOINCREMENT: sqlite_sequence keeps the
// highest ROWID it ever gave, even after that row is deleted.
inline constexpr std::string_view kHasSequence =
    "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'sqlite_sequence'";
inline constexpr std::string_view kMessageSequence =
    "SELECT COALESCE(MAX(seq), 0) FROM sqlite_sequence WHERE name = 'message'";
inline constexpr std::string_view kGuidAt = "SELECT guid FROM message WHERE ROWID = ?";
inline constexpr std::string_view kChatWithGuid = "SELECT 1 FROM chat WHERE guid = ?";

} // namespace chat_db_sql

// A reaction row of the store (a tapback, its removal, a sticker placed on a
// message, a poll vote): kept beside its target, never as a message.
struct StoreReaction {
    std::string guid;       // the reaction row's own guid
    std::string targetGuid; // the message it reacts to
    std::string kind;       // reactionKindName
    bool removal = false;   // takes back the sender's earlier reaction of this kind
    std::string sender;     // the handle, "me" or "unknown"
    std::optional<std::string> emoji;
    int64_t timestamp = 0;
    bool operator==(const StoreReaction&) const = default;
};

// One page of messages read from the store, with the raw cursor facts: rows
// dropped during normalisation (no guid, no text) still move the cursor, and
// the end of the data is recognised by rawRowCount, not by messages.size().
struct FetchResult {
    std::vector<ShadowMessage> messages;  // the rows kept, in query order
    std::vector<StoreReaction> reactions; // reaction rows, in query order
    // Guids of rows that are in the store but must not be kept: unsent, in
    // Recently Deleted, junk while junk is left out. A copy made earlier goes.
    std::vector<std::string> removedGuids;
    // Guids of rows in a chat left out (ChatDBReader::setExcludedChats):
    // neither kept nor removed here; the messages of the result with one of
    // them (read from another chat) are left out too.
    std::vector<std::string> excludedGuids;
    // Of removedGuids, the messages taken back whole.
    std::vector<std::string> unsentGuids;
    // The rows read that are not kept as messages, by why, each row once
    // (however many chats it is in). Rows in Recently Deleted are not
    // counted; nor are reactions found later in a message's text.
    LeftOutCounts leftOut;
    int64_t rawRowCount = 0;      // rows the query returned, kept or not
    int64_t lastRawTimestamp = 0; // date of the last row returned, else the cursor's
    int64_t lastRawRowid = 0;     // ROWID of the last row returned, else the cursor's
};

// What the store says about deleted rows, read once per pass.
struct StoreDeletions {
    // deleted_messages: guids of rows deleted for good, after a given rowid of
    // that log (empty when the store keeps no such log).
    std::vector<std::string> tombstoneGuids;
    int64_t lastTombstoneRowid = 0;
    bool hasTombstoneLog = false;
};

// One read-only connection to a messaging store. Owns the connection and
// closes it on destruction; not copyable or movable (share it by reference).
// Used by one thread at a time; every operation runs synchronously on the
// calling thread and prepares and finalizes its own statement. Never writes to
// the store, sets no pragma and no busy timeout. Failures are thrown as
// ChatDBReader::Error.
class ChatDBReader {
public:
    class Error : public std::exception {
    public:
        enum class Kind { failedToOpen, queryFailed, databaseNotFound };

        static Error failedToOpen(std::string message) {
            return {Kind::failedToOpen, std::move(message)};
        }
        static Error queryFailed(std::string message) {
            return {Kind::queryFailed, std::move(message)};
        }
        static Error databaseNotFound() { return {Kind::databaseNotFound, {}}; }

        Kind kind() const { return kind_; }
        // SQLite's message, without the prefix (empty for databaseNotFound).
        const std::string& message() const { return message_; }
        // The user-facing description: "Failed to open database: <message>",
        // "Query failed: <message>" or "chat.db not found".
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        Error(Kind kind, std::string message);

        Kind kind_;
        std::string message_;
        std::string description_;
    };

    // CHAT_DB_PATH exactly as set (an empty value included) when present;
    // otherwise the home folder's "Library/Messages/chat.db".
    static std::string defaultChatDBPath(const Environment& environment = Environment::process());

    // Opens the store at `path` (defaultChatDBPath() when absent) read-only
    // with openStoreReadOnly (the path percent-encoded into a "file:" URI, so
    // it is read literally; WAL stores with or without their -wal and -shm
    // files; nothing beside the store is ever created, changed or deleted),
    // which reads its schema once so that a store that cannot be read fails
    // here.
    //
    // Throws databaseNotFound when nothing exists at the path (SQLite is not
    // called), failedToOpen when the store cannot be opened or read: a folder,
    // a FIFO or device, symbolic links that loop (each named as such, without
    // calling SQLite), or SQLite's message, with what was tried and why ("file
    // is not a database", a truncated file, both opens failing, the system
    // refusing access, which a path it refuses even to examine also gets).
    explicit ChatDBReader(const std::optional<std::string>& path = std::nullopt,
                          const Environment& environment = Environment::process());
    ChatDBReader(const ChatDBReader&) = delete;
    ChatDBReader& operator=(const ChatDBReader&) = delete;

    const std::string& path() const { return path_; }

    // Junk and blocked chats (chat.is_filtered 2, chat.is_blackholed) and
    // messages marked spam are left out of every read unless this is set.
    void setIncludeJunk(bool include) { includeJunk_ = include; }
    // Chats left out by the person's choice, by chat guid: their rows are
    // skipped by every message read (reactions included), and a message
    // joined to one of them is left out even when it is in another chat too.
    void setExcludedChats(std::set<std::string> chatGuids) {
        excludedChats_ = std::move(chatGuids);
    }

    // At most `limit` rows after the cursor (afterTimestamp, afterRowid) in
    // (date, ROWID) order, normalised into messages. A message joined to two
    // chats comes back as two rows. `limit` must fit a 32-bit int.
    //
    // Throws queryFailed when the statement cannot be prepared. While
    // stepping, a busy or locked store (SQLITE_BUSY, SQLITE_LOCKED) ends the
    // page early without an error: the result covers the rows read so far and
    // its short rawRowCount ends the caller's pass. Any other stepping error
    // (a corrupt or unreadable store, an I/O error) throws queryFailed with
    // SQLite's message and the rows of this page are not returned; pages
    // returned by earlier calls are unaffected, so a caller that has already
    // stored them resumes after them on its next pass.
    FetchResult fetchMessages(int64_t afterTimestamp, int64_t afterRowid, int limit);

    // Every chat's members, ordered by chat guid then handle ROWID; rows with
    // a NULL chat guid or handle id are skipped. Throws queryFailed when the
    // statement cannot be prepared or a step fails.
    std::vector<ChatParticipant> fetchChatParticipants();

    // Whether the store has a chat with this guid (the chat id the shadow
    // database and `orlune chats` show), junk or not. Throws queryFailed.
    bool hasChat(const std::string& chatGuid);

    // The number of rows of `message`. Throws queryFailed.
    int64_t totalMessageCount();

    // Checks that every table and column this reader reads exists, so that a
    // caller can refuse a foreign or damaged store before writing anything.
    // Throws queryFailed naming the first missing table or column.
    void checkSchema();

    // --- Catch-up reads --------------------------------------------------
    // They find the rows that the (date, ROWID) cursor passes over: rows
    // inserted with an old date (restored from a backup: new, higher
    // ROWIDs), chat joins written after their message, and text that
    // arrived or changed after the row was read. Each returns rows
    // normalised as fetchMessages does, with the same error rules, and with
    // rawRowCount/lastRaw* describing the rows returned (lastRawRowid is the
    // highest ROWID returned, or the first argument when none).

    // The highest message ROWID, 0 for an empty table. The store's message
    // table is AUTOINCREMENT, so a row inserted later always has a higher
    // ROWID, whatever its date. Throws queryFailed.
    int64_t maxMessageRowid();
    // The highest rowid of chat_message_join, 0 for an empty table. Throws
    // queryFailed.
    int64_t maxJoinRowid();
    // The highest message ROWID the store has ever given (also when that row
    // has been deleted since): the larger of maxMessageRowid() and the
    // table's AUTOINCREMENT counter. It never decreases while the store is
    // the same file; a store made anew starts again from its first rows.
    // Throws queryFailed.
    int64_t highestMessageRowidEver();
    // The guid of the message with that ROWID; absent when there is no such
    // row (or its guid is NULL). Throws queryFailed.
    std::optional<std::string> guidAt(int64_t rowid);
    // The `n`-th message ROWID after `afterRowid` (n from 1), absent when
    // fewer rows follow. Throws queryFailed.
    std::optional<int64_t> nthRowidAfter(int64_t afterRowid, int n);
    struct JoinRow {
        int64_t messageId = 0;
        int64_t chatId = 0;
        bool operator==(const JoinRow&) const = default;
    };
    // The join row with that rowid, absent when there is none. Throws
    // queryFailed.
    std::optional<JoinRow> joinAt(int64_t joinRowid);

    // Rows with ROWID in (afterRowid, throughRowid] at or behind the cursor.
    FetchResult fetchMessagesByRowidBehindCursor(int64_t afterRowid, int64_t throughRowid,
                                                 int64_t cursorTimestamp, int64_t cursorRowid);
    // Messages at or behind the cursor joined to a chat by a join row with
    // rowid in (afterJoinRowid, throughJoinRowid].
    FetchResult fetchMessagesJoinedBetween(int64_t afterJoinRowid, int64_t throughJoinRowid,
                                           int64_t cursorTimestamp, int64_t cursorRowid);
    // Messages at or behind the cursor in the chat with this guid (one row
    // per chat of each), for a chat taken back in. Reads the chat's joins.
    FetchResult fetchMessagesInChat(const std::string& chatGuid, int64_t cursorTimestamp,
                                    int64_t cursorRowid);
    // Messages at or behind the cursor joined to more than one chat (one row
    // per chat). Reads the whole join table once. Throws queryFailed.
    FetchResult fetchMessagesInSeveralChats(int64_t cursorTimestamp, int64_t cursorRowid);
    // Those of the `count` newest message rows (by ROWID) that lie at or
    // behind the cursor.
    FetchResult fetchNewestMessagesBehindCursor(int count, int64_t cursorTimestamp,
                                                int64_t cursorRowid);

    // --- Rows that are not plain messages, and deletions ---------------
    // Rows whose date is not a positive integer (text, NULL, zero, negative,
    // REAL): the (date, ROWID) cursor never reaches them, so every pass
    // reads them here (an index range on date) and the caller writes those
    // that changed. Their timestamp is the date as an integer (0 for text
    // and NULL, clamped for a huge REAL).
    FetchResult fetchMessagesWithOddDates();
    // The store row with this ROWID, wherever the cursor stands.
    FetchResult fetchMessageAt(int64_t rowid);
    // The rows in Recently Deleted (ROWID and guid), by ROWID; empty for a
    // store without chat_recoverable_message_join.
    std::vector<std::pair<int64_t, std::string>> recentlyDeleted();
    // Entries of the store's deleted_messages log after `afterRowid`.
    StoreDeletions deletionsAfter(int64_t afterRowid);
    // Rows of `message` with ROWID in (afterRowid, throughRowid].
    int64_t countRowsBetween(int64_t afterRowid, int64_t throughRowid);
    // Every guid of `message` (a full scan: only when counts disagree).
    std::vector<std::string> allGuids();

private:
    // Reads which optional tables and columns the store has and builds the
    // statements from them, once.
    void probe();
    // The message statements' SELECT list and joins, for this store.
    const std::string& messageColumns();
    // Steps a prepared statement through every row into `result`.
    void readMessageRows(sqlite::Statement& statement, FetchResult& result);
    int64_t singleInteger(std::string_view sql);
    // Prepares `sql` on the store; throws queryFailed.
    sqlite::Statement prepare(std::string_view sql);
    // Runs `operation`, turning a failed SQLite call into queryFailed.
    template <typename Operation>
    static auto guarded(Operation&& operation) -> decltype(operation()) {
        try {
            return operation();
        } catch (const sqlite::Error& error) {
            throw Error::queryFailed(error.what());
        }
    }

    std::string path_;
    sqlite::Connection db_;
    bool includeJunk_ = false;
    std::set<std::string> excludedChats_;
    bool probed_ = false;
    std::string messageColumns_;
    bool hasAttachments_ = false; // message_attachment_join and attachment
    bool hasRecoverable_ = false;
    bool hasTombstones_ = false;
    std::vector<std::string> attachmentColumns_;
    std::vector<int64_t> recoverableRowids_; // sorted
    // Guids several rows share, with the lowest of their ROWIDs (the row
    // that keeps the guid; the others take derivedGuid).
    std::unordered_map<std::string, int64_t> sharedGuids_;
};

// A store without a UNIQUE guid can hold several rows with one guid: the
// first (lowest ROWID) keeps it, each other is copied as "<guid>#<ROWID>".
inline constexpr char kDerivedGuidSeparator = '#';
std::string derivedGuid(std::string_view guid, int64_t rowid);
// The store's guid of a copied message (its guid without a derived suffix).
std::string_view storeGuidOf(std::string_view guid);

// The bytes written as hexadecimal text (two digits per byte, either case).
// A trailing odd character is ignored; absent when a pair is not hexadecimal.
std::optional<std::string> decodeHex(std::string_view hex);

} // namespace orlune::core
