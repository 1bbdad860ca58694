#pragma once
// Writes a messaging store (chat.db) with the tables, columns, indexes and
// triggers of the operating system's own store, in the shape of one of
// several eras of it. Used to build test fixtures, benchmark data and the
// built-in sample store.
//
// Besides adding rows, it makes the changes the messaging app makes to rows
// already there (an edit, an unsend, a move to Recently Deleted and back, a
// deletion, a deleted conversation) the way the app leaves them, through the
// store's own triggers where the store has them.
//
// Differences from the real store, on purpose: message.guid, handle.id and
// handle.service accept NULL so that readers' handling of missing values can
// be exercised; the journal mode is SQLite's default (rollback journal); the
// three triggers that call functions of the messaging app itself (removing
// attachment files and app-balloon data) are left out.

#include <cstdint>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::samplestore {

// Which version of the operating system the store looks like it comes from.
// Later eras have every column and table of the earlier ones.
enum class StoreEra {
    // Before macOS 10.13: dates in seconds since 2001-01-01, no
    // chat_message_join.message_date, no thread or CloudKit columns, no
    // handle.person_centric_id, no sync_deleted_* tables.
    VeryOld,
    // macOS 10.13 to 12: dates in nanoseconds; none of what came with edits
    // and unsends (message.date_edited, date_retracted, part_count,
    // associated_message_emoji, the Recently Deleted tables).
    BeforeEdits,
    // macOS 14 and 15 (the default).
    Recent,
    // macOS 26: as Recent with a few more columns; chat guids begin "any;".
    Newest,
};

// The store's time unit in `era`: seconds before macOS 10.13, nanoseconds
// after. Dates count from 2001-01-01 00:00:00 UTC.
int64_t storeTicksPerSecond(StoreEra era);

struct HandleRow {
    int64_t rowid = 0;
    std::optional<std::string> id;                   // the address: phone number or e-mail
    std::optional<std::string> service = "iMessage"; // "iMessage", "SMS", "RCS", ...
    std::optional<std::string> country = "us";
    // One person's handles share it; NULL for most.
    std::optional<std::string> personCentricId = std::nullopt;
    // As typed; absent: the same as `id`.
    std::optional<std::string> uncanonicalizedId = std::nullopt;
};

// chat.style: 43 for a group chat, 45 for a one-to-one chat.
inline constexpr int64_t kGroupChatStyle = 43;
inline constexpr int64_t kDirectChatStyle = 45;

// chat.is_filtered: a category, not a flag.
inline constexpr int64_t kKnownSender = 0;
inline constexpr int64_t kUnknownSender = 1;
inline constexpr int64_t kJunk = 2;

struct ChatRow {
    int64_t rowid = 0;
    std::string guid; // e.g. "iMessage;-;+15551230000" or "iMessage;+;chat1234"
    std::optional<std::string> displayName; // NULL for most one-to-one chats
    int64_t style = kDirectChatStyle;
    std::string chatIdentifier; // the address or "chat<number>"
    std::string serviceName = "iMessage";
    std::optional<std::string> roomName = std::nullopt; // "chat<number>" for group chats
    int64_t isFiltered = kKnownSender;
    bool isBlackholed = false; // the sender is blocked
};

// message.item_type: what a row that is not a message says happened.
inline constexpr int64_t kItemMessage = 0;
inline constexpr int64_t kItemMembership = 1;  // group_action_type 0 added, 1 removed
inline constexpr int64_t kItemRename = 2;      // group_title: the new name
inline constexpr int64_t kItemGroupAction = 3; // group_action_type 0 left, 1 photo changed

struct MessageRow {
    int64_t rowid = 0;
    std::optional<std::string> guid;           // NULL only for tests of a missing guid
    std::optional<std::string> text;           // NULL when the text is only in attributedBody
    std::optional<std::string> attributedBody; // the archive bytes, or NULL
    int64_t date = 0;                          // the store's own time value
    bool isFromMe = false;
    int64_t handleId = 0; // handle.ROWID; 0 for none (messages sent by me to a group)
    std::string service = "iMessage";

    // Columns of rows that are not plain messages. A column the store's era
    // lacks is not written.
    int64_t itemType = kItemMessage;
    int64_t groupActionType = 0;
    int64_t otherHandle = 0;                              // the member added or removed
    std::optional<std::string> groupTitle = std::nullopt; // a renamed chat's new name
    // What a reaction points at: "p:N/GUID", "bp:GUID" or "GUID".
    std::optional<std::string> associatedMessageGuid = std::nullopt;
    int64_t associatedMessageType = 0; // 2000-2007 tapbacks, 3000-3007 removals, ...
    std::optional<std::string> associatedMessageEmoji = std::nullopt;
    int64_t associatedMessageRangeLocation = 0;
    int64_t associatedMessageRangeLength = 0;
    std::optional<std::string> balloonBundleId = std::nullopt;
    std::optional<std::string> payloadData = std::nullopt;
    std::optional<std::string> messageSummaryInfo = std::nullopt; // a binary property list
    std::optional<std::string> threadOriginatorGuid = std::nullopt;
    std::optional<std::string> threadOriginatorPart = std::nullopt; // "part:start:length"
    std::optional<std::string> replyToGuid = std::nullopt;
    int64_t dateEdited = 0;
    int64_t dateRetracted = 0;
    std::optional<int64_t> partCount = 1;
    bool isAudioMessage = false;
    bool isEmpty = false;
    bool isSpam = false;
};

struct AttachmentRow {
    int64_t rowid = 0;
    std::string guid;
    int64_t createdDate = 0; // seconds since 2001-01-01, whatever the era
    // "~/Library/Messages/Attachments/..."; NULL until the file is downloaded.
    std::optional<std::string> filename = std::nullopt;
    std::optional<std::string> uti = std::nullopt;
    std::optional<std::string> mimeType = std::nullopt; // often NULL
    int64_t transferState = 5;                          // 5: finished; 0: not downloaded
    bool isOutgoing = false;
    std::optional<std::string> transferName = std::nullopt; // the file's original name
    int64_t totalBytes = 0;
    bool isSticker = false;
    bool hideAttachment = false; // a link preview's image, not shown as an attachment
};

// Thrown for any SQLite failure while writing, with SQLite's message, and for
// a change the store's era cannot hold.
class ChatStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Owns one read-write connection to the store file; closes it on destruction
// (committing an open transaction first). Not copyable or movable; one thread.
// Every method throws ChatStoreError on failure.
class ChatStoreWriter {
public:
    // Creates the store at `path` with the full schema of the Recent era.
    // Throws when a file already exists there.
    explicit ChatStoreWriter(const std::string& path);
    struct CreateOptions {
        // Leave out the secondary indexes and the triggers until
        // createIndexes(): much faster when many rows follow.
        bool deferIndexes = false;
        StoreEra era = StoreEra::Recent;
    };
    ChatStoreWriter(const std::string& path, CreateOptions options);
    // Opens an existing store (made by this writer) to add rows to it or
    // change them; its era is read from its schema.
    struct OpenExisting {};
    ChatStoreWriter(const std::string& path, OpenExisting);
    ~ChatStoreWriter();
    ChatStoreWriter(const ChatStoreWriter&) = delete;
    ChatStoreWriter& operator=(const ChatStoreWriter&) = delete;

    StoreEra era() const { return era_; }

    void addHandle(const HandleRow& handle);
    void addChat(const ChatRow& chat);
    void addMessage(const MessageRow& message);
    // chat_message_join; `messageDate` fills its message_date column (where
    // the era has one).
    void joinMessageToChat(int64_t messageRowid, int64_t chatRowid, int64_t messageDate = 0);
    // chat_handle_join.
    void addChatMember(int64_t chatRowid, int64_t handleRowid);
    void addAttachment(const AttachmentRow& attachment);
    // message_attachment_join, in the attachments' order in the message.
    void attachToMessage(int64_t messageRowid, int64_t attachmentRowid);

    // The ROWID of the message with `guid`, if there is one.
    std::optional<int64_t> messageRowid(const std::string& guid);

    // Changes to rows already written, as the messaging app makes them. They
    // rely on the store's triggers, so with deferIndexes they may only follow
    // createIndexes(). A change the era cannot hold throws ChatStoreError.

    // Renames a chat: its display_name becomes `title` (the event row that
    // records it is the caller's to add).
    void renameChat(int64_t chatRowid, const std::string& title);
    // Edits part 0 of a message to `text` at `date` (store time): the edit
    // history in message_summary_info gains the original version (the first
    // time) and the new one, and date_edited is stamped unless
    // `stampDateEdited` is false. The new text goes to the text column and the
    // body, or, with `currentTextOnlyInHistory`, the body is left empty and
    // the last history entry alone holds it. Eras from Recent on.
    void editMessage(int64_t messageRowid, const std::string& text, int64_t date,
                     bool currentTextOnlyInHistory = false, bool stampDateEdited = true);
    // Unsends a message at `date`: text and body cleared, is_empty set,
    // date_edited stamped, part_count 0, message_summary_info listing its
    // part as retracted; date_retracted is stamped too when
    // `stampDateRetracted` (recent versions leave it 0). Eras from Recent on.
    void unsendMessage(int64_t messageRowid, int64_t date, bool stampDateRetracted);
    // Moves a message to Recently Deleted: each chat join becomes a
    // chat_recoverable_message_join row with `deleteDate`, its text is kept
    // in recoverable_message_part, and the message row stays. A message in no
    // chat is left as it is. Eras from Recent on.
    void moveToRecentlyDeleted(int64_t messageRowid, int64_t deleteDate);
    // Restores a message from Recently Deleted into the chats it was in.
    void restoreFromRecentlyDeleted(int64_t messageRowid);
    // Deletes a message for good: its row, joins and attachments go, and the
    // store's triggers record its guid in deleted_messages (and
    // sync_deleted_messages where the era has it).
    void deleteMessage(int64_t messageRowid);
    // Deletes a conversation into Recently Deleted: every message of the
    // chat moves there with `deleteDate`; the chat row stays. Eras from
    // Recent on.
    void moveChatToRecentlyDeleted(int64_t chatRowid, int64_t deleteDate);
    // Deletes a conversation for good: the chat row, its members and joins
    // go, with every message that was in no other chat (recorded in
    // deleted_messages by the triggers); the chat's guid goes to
    // sync_deleted_chats where the era has it.
    void deleteChat(int64_t chatRowid);

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

    // Creates the secondary indexes and triggers left out with deferIndexes
    // (nothing when they exist), after filling the cached columns the
    // triggers would have kept (message.cache_roomnames and
    // cache_has_attachments).
    void createIndexes();

    // The schema written by the constructor for `era`, as one SQL script.
    static std::string schemaSql(StoreEra era = StoreEra::Recent);

private:
    struct Statements;
    void open(const std::string& path, int flags);
    void prepareStatements();
    void requireEra(StoreEra atLeast, const char* change) const;
    void requireTriggers(const char* change) const;
    int64_t changeOne(const std::string& sql, std::initializer_list<int64_t> values);
    struct Body {
        std::optional<std::string> text;
        std::optional<std::string> attributedBody;
        std::optional<std::string> summary;
        int64_t date = 0;
    };
    Body readBody(int64_t messageRowid);

    sqlite3* db_ = nullptr;
    std::unique_ptr<Statements> statements_;
    bool inTransaction_ = false;
    bool deferred_ = false;
    StoreEra era_ = StoreEra::Recent;
};

} // namespace orlune::samplestore
