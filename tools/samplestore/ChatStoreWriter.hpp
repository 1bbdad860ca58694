#pragma once
// Writes a messaging store (chat.db) with the tables and usual columns of the
// operating system's own store: message, handle, chat, chat_message_join,
// chat_handle_join (and the store's indexes on them). Used to build test
// fixtures, benchmark data and the built-in sample store.
//
// Differences from the real store, on purpose: message.guid, handle.id and
// handle.service accept NULL so that readers' handling of missing values can
// be exercised; the journal mode is SQLite's default (rollback journal).

#include <cstdint>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace orlune::samplestore {

struct HandleRow {
    int64_t rowid = 0;
    std::optional<std::string> id;                   // the address: phone number or e-mail
    std::optional<std::string> service = "iMessage"; // "iMessage", "SMS", ...
};

// chat.style: 43 for a group chat, 45 for a one-to-one chat.
inline constexpr int64_t kGroupChatStyle = 43;
inline constexpr int64_t kDirectChatStyle = 45;

struct ChatRow {
    int64_t rowid = 0;
    std::string guid; // e.g. "iMessage;-;+15551230000" or "iMessage;+;chat1234"
    std::optional<std::string> displayName; // NULL for most one-to-one chats
    int64_t style = kDirectChatStyle;
    std::string chatIdentifier; // the address or "chat<number>"
    std::string serviceName = "iMessage";
};

struct MessageRow {
    int64_t rowid = 0;
    std::optional<std::string> guid;           // NULL only for tests of a missing guid
    std::optional<std::string> text;           // NULL when the text is only in attributedBody
    std::optional<std::string> attributedBody; // the archive bytes, or NULL
    int64_t date = 0;                          // the store's own time value
    bool isFromMe = false;
    int64_t handleId = 0; // handle.ROWID; 0 for none (messages sent by me to a group)
    std::string service = "iMessage";
};

// Thrown for any SQLite failure while writing, with SQLite's message.
class ChatStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Owns one read-write connection to the store file; closes it on destruction
// (committing an open transaction first). Not copyable or movable; one thread.
// Every method throws ChatStoreError on failure.
class ChatStoreWriter {
public:
    // Creates the store at `path` with the full schema. Throws when a file
    // already exists there.
    explicit ChatStoreWriter(const std::string& path);
    struct CreateOptions {
        // Leave out the secondary indexes until createIndexes(): much faster
        // when many rows follow.
        bool deferIndexes = false;
    };
    ChatStoreWriter(const std::string& path, CreateOptions options);
    // Opens an existing store (made by this writer) to add rows to it.
    struct OpenExisting {};
    ChatStoreWriter(const std::string& path, OpenExisting);
    ~ChatStoreWriter();
    ChatStoreWriter(const ChatStoreWriter&) = delete;
    ChatStoreWriter& operator=(const ChatStoreWriter&) = delete;

    void addHandle(const HandleRow& handle);
    void addChat(const ChatRow& chat);
    void addMessage(const MessageRow& message);
    // chat_message_join; `messageDate` fills its message_date column.
    void joinMessageToChat(int64_t messageRowid, int64_t chatRowid, int64_t messageDate = 0);
    // chat_handle_join.
    void addChatMember(int64_t chatRowid, int64_t handleRowid);

    // Groups the following writes in one transaction (much faster for many
    // rows); commit() ends it. Without them every write commits on its own.
    void beginTransaction();
    void commit();

    // Runs arbitrary SQL on the store (for fixtures the typed methods do not
    // cover, such as dropping a column).
    void execute(const std::string& sql);

    // The connection, for callers that need more than the methods above.
    // Owned by the writer.
    sqlite3* connection() const { return db_; }

    // Commits an open transaction and closes the connection; later calls do
    // nothing, other methods must not be called after it.
    void close();

    // Creates the secondary indexes left out with deferIndexes (nothing when
    // they exist).
    void createIndexes();

    // The schema written by the constructor, as one SQL script.
    static const char* schemaSql();

private:
    struct Statements;
    void open(const std::string& path, int flags);
    void prepareStatements();

    sqlite3* db_ = nullptr;
    std::unique_ptr<Statements> statements_;
    bool inTransaction_ = false;
};

} // namespace orlune::samplestore
