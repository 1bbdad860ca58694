#pragma once
// Read-only access to the operating system's messaging store (chat.db).

#include "OrluneCore/ChatParticipant.hpp"
#include "OrluneCore/Environment.hpp"
#include "OrluneCore/SQLite.hpp"
#include "OrluneCore/ShadowMessage.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

namespace chat_db_sql {

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
    "WHERE (m.date > ?) OR (m.date = ? AND m.ROWID > ?)\n"
    "ORDER BY m.date ASC, m.ROWID ASC\n"
    "LIMIT ?";

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

} // namespace chat_db_sql

// One page of messages read from the store, with the raw cursor facts: rows
// dropped during normalisation (no guid, no text) still move the cursor, and
// the end of the data is recognised by rawRowCount, not by messages.size().
struct FetchResult {
    std::vector<ShadowMessage> messages; // the rows kept, in query order
    int64_t rawRowCount = 0;             // rows the query returned, kept or not
    int64_t lastRawTimestamp = 0;        // date of the last row returned, else the cursor's
    int64_t lastRawRowid = 0;            // ROWID of the last row returned, else the cursor's
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
    // through the URI "file:<path>?mode=ro", the path inserted verbatim.
    // Throws databaseNotFound when nothing exists at the path (SQLite is not
    // called), failedToOpen with SQLite's message when opening fails.
    explicit ChatDBReader(const std::optional<std::string>& path = std::nullopt,
                          const Environment& environment = Environment::process());
    ChatDBReader(const ChatDBReader&) = delete;
    ChatDBReader& operator=(const ChatDBReader&) = delete;

    const std::string& path() const { return path_; }

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
    // statement cannot be prepared; an error while stepping ends the list.
    std::vector<ChatParticipant> fetchChatParticipants();

    // The number of rows of `message`. Throws queryFailed.
    int64_t totalMessageCount();

private:
    std::string path_;
    sqlite::Connection db_;
};

// The bytes written as hexadecimal text (two digits per byte, either case).
// A trailing odd character is ignored; absent when a pair is not hexadecimal.
std::optional<std::string> decodeHex(std::string_view hex);

} // namespace orlune::core
