#pragma once
// Builds a messaging store full of plausible conversations, for tests,
// benchmarks and the built-in sample store. The same options and seed always
// give the same store. Message dates are in the store's unit (nanoseconds
// since 2001-01-01; seconds in the oldest era), about five minutes apart on
// average, ending around the start of 2024; some messages share the date of
// the one before.
//
// By default the store holds plain messages only. RealStoreContent adds what
// real stores hold besides (reactions, group events, attachments, edits,
// unsends, deletions, junk, threads, more handles), each where the store's
// era can hold it, and the summary says what was written and which rows a
// reader should treat how.

#include "tools/samplestore/ChatStoreWriter.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orlune::samplestore {

// The kinds of rows real stores hold besides plain messages.
struct RealStoreContent {
    // Tapbacks (2000-2007: love, like, dislike, laugh, emphasize, question,
    // custom emoji, sticker) whose text quotes their target, their removals
    // (3000-3007; for some the earlier reaction row was deleted), stickers
    // placed on a message (1000), poll votes (4000), and reactions sent by
    // SMS as plain text (`Liked "…"`), beside messages that only look like
    // them.
    bool reactions = false;
    // Group events: members added and removed (item_type 1), renames (2; the
    // chat takes the new name), a member leaving and a new group photo (3).
    bool groupEvents = false;
    // Attachment rows and joins for every U+FFFC in a message: photos with
    // and without a caption, several in one message, a PDF, a video, a voice
    // message, an audio file, a contact card, a location, another file;
    // files never downloaded (filename NULL) or not on disk, MIME types NULL
    // beside a UTI; link previews with hidden attachments and a payload;
    // stickers; a poll (an app message, U+FFFD).
    bool attachments = false;
    // Edited messages: date_edited and an edit history in
    // message_summary_info, the current text in the body or only in the
    // history, edited twice, and one whose date_edited stayed 0.
    bool edits = false;
    // Unsent messages, with date_retracted stamped or left 0.
    bool unsends = false;
    // Messages moved to Recently Deleted (one of them restored), deleted for
    // good, and two conversations deleted (one into Recently Deleted, one for
    // good).
    bool deletions = false;
    // A junk chat (is_filtered 2, messages marked is_spam) and a blocked
    // sender's chat (is_blackholed).
    bool junk = false;
    // Thread replies (thread_originator_guid).
    bool threads = false;
    // More handles: one person on iMessage and SMS with the same number and
    // with an e-mail, tied by person_centric_id; handles from other countries.
    bool handles = false;

    // Every kind.
    static RealStoreContent everything();
    bool any() const;
};

struct SampleStoreOptions {
    int64_t messageCount = 2000;
    uint64_t seed = 1;
    // Share of messages whose text is only in the attributedBody archive
    // (text column NULL). The rest: about 4 in 100 have no text anywhere
    // (empty, or an attachment alone), about a third text only in the text
    // column, the others both.
    int archiveOnlyPercent = 40;
    // Writes every message's text into the text column as well (the archives
    // stay as they are), so that the store holds exactly the same messages
    // but needs no decoding. Nothing else changes for the same seed.
    bool textAlwaysInTextColumn = false;
    // Share of the plain messages (0 to 100) whose text is a sentence in
    // Chinese, Japanese, Korean or Thai (a few with an English word glued
    // on) instead of the one drawn for them; the others stay the same.
    int spacelessPercent = 0;
    // ROWID of the first message (appendSampleMessages continues a store
    // after its last one).
    int64_t firstRowid = 1;

    // The version of the store's schema (and its time unit and chat guids).
    StoreEra era = StoreEra::Recent;
    // What the store holds besides plain messages (nothing by default). The
    // plain messages stay the same for the same seed; the rows added come
    // between them and move the later ones' ROWIDs and dates on.
    RealStoreContent content;
    // Leaves the changes made to rows already written (edits, unsends, moves
    // to Recently Deleted and back, deletions, deleted conversations) out of
    // the store and lists them in the summary's pendingChanges instead, to be
    // made later with applyStoreChanges: a store before and after them.
    bool deferChanges = false;
    // When set, the files of the attachments that are on disk are written
    // under this folder, which stands for the home folder ("~") of their
    // filename. Otherwise no file is written.
    std::optional<std::string> attachmentHome;
};

// A change to rows already in a store, as the messaging app makes it.
struct StoreChange {
    enum class Kind {
        Edit,                      // rowid: message; text; flag: text only in the history
        EditKeepingDateEditedZero, // as Edit, date_edited left 0
        Unsend,                    // rowid: message; flag: date_retracted stamped
        MoveToRecentlyDeleted,     // rowid: message
        Restore,                   // rowid: message
        Delete,                    // rowid: message
        MoveChatToRecentlyDeleted, // rowid: chat
        DeleteChat,                // rowid: chat
    };
    Kind kind;
    int64_t rowid = 0;
    int64_t date = 0; // store time of the change
    std::string text;
    bool flag = false;
};

// Makes `changes` to the store at `path` (made by buildSampleStore), in
// order, in one transaction. Throws ChatStoreError.
void applyStoreChanges(const std::string& path, const std::vector<StoreChange>& changes);

// What a build wrote.
struct SampleStoreSummary {
    int64_t messages = 0;    // plain messages
    int64_t archiveOnly = 0; // text only in attributedBody
    int64_t textOnly = 0;    // text only in the text column
    int64_t both = 0;        // text in both
    int64_t neither = 0;     // no text anywhere (empty or attachment only)
    int64_t inNoChat = 0;
    int64_t inTwoChats = 0;
    int64_t handles = 0;
    int64_t chats = 0;
    int64_t lastDate = 0;

    StoreEra era = StoreEra::Recent;
    // Rows of `message` in the store, of every kind (after the changes,
    // unless they were deferred).
    int64_t messageRows = 0;
    // A plain message joined to two chats, and their guids (absent when the
    // store has none).
    struct TwoChats {
        std::string guid;
        std::vector<std::string> chatGuids;
    };
    std::optional<TwoChats> twoChats;

    // Rows written by RealStoreContent, per kind.
    struct Counts {
        int64_t tapbacks = 0;            // 2000-2007
        int64_t removals = 0;            // 3000-3007
        int64_t reactionRowsDeleted = 0; // tapback rows deleted after their removal
        int64_t stickers = 0;            // 1000
        int64_t pollVotes = 0;           // 4000
        int64_t smsReactions = 0;        // plain-text reactions
        int64_t lookalikes = 0;          // messages that only look like reactions
        int64_t groupEvents = 0;
        int64_t renames = 0;
        int64_t attachments = 0;        // attachment rows
        int64_t attachmentMessages = 0; // messages with attachments (not reactions)
        int64_t hiddenAttachments = 0;
        int64_t edited = 0;
        int64_t unsent = 0;
        int64_t recentlyDeleted = 0; // messages moved there one by one and left there
        int64_t restored = 0;
        int64_t deleted = 0;      // messages deleted for good
        int64_t deletedChats = 0; // conversations deleted (either way)
        int64_t junkMessages = 0;
        int64_t threadReplies = 0;
        int64_t extraHandles = 0;
    } counts;

    // A row that reacts to another: a tapback, a removal, a sticker placed, a
    // poll vote, or a reaction sent by SMS as plain text (type 0).
    struct Reaction {
        std::string guid;
        std::string targetGuid;
        int64_t associatedType = 0;
        std::string kind;   // "love", ... as core::reactionKindName gives it
        std::string sender; // the handle's id, or "me"
        std::optional<std::string> emoji;
        bool rowDeleted = false; // the row was deleted after a removal
    };
    std::vector<Reaction> reactionRows;
    // The reactions that stand once removals are applied, per target, sender
    // and kind: what a reader should show beside their targets.
    std::vector<Reaction> currentReactions;
    // Messages written like reactions that are messages all the same.
    std::vector<std::string> lookalikeGuids;

    std::vector<std::string> groupEventGuids;
    // The current name of each renamed chat, by chat guid.
    std::map<std::string, std::string> chatTitles;

    struct Attachment {
        std::string guid;
        std::optional<std::string> transferName;
        std::optional<std::string> mimeType;
        std::optional<std::string> uti;
        int64_t totalBytes = 0;
        std::string kind;       // as core::attachmentKindName gives it
        bool onDisk = false;    // its file was written under attachmentHome
        bool downloaded = true; // filename set
        bool hidden = false;
        bool sticker = false;
    };
    // Messages with attachments: their text without placeholders (empty for
    // an attachment alone) and their attachments in order.
    struct AttachmentMessage {
        std::string guid;
        std::string text;
        std::vector<Attachment> attachments;
        // A voice message's transcript, written by the system into the
        // body's attributes: what a reader gives as its text.
        std::optional<std::string> transcript;
    };
    std::vector<AttachmentMessage> attachmentMessages;

    struct Edit {
        std::string guid;
        std::string originalText;
        std::string currentText;
        int64_t editedAt = 0; // store time of the last edit
        bool currentTextOnlyInHistory = false;
        bool dateEditedStamped = true;
        int versions = 2; // the original and the edits
    };
    std::vector<Edit> edits;

    // Messages a reader must not keep: unsent, in Recently Deleted, deleted
    // for good, in a deleted conversation. `word` is a word found in no other
    // message of the store (absent for changes made to ordinary messages).
    enum class Removal {
        Unsent,
        RecentlyDeleted,
        Deleted,
        ChatRecentlyDeleted,
        ChatDeleted,
    };
    struct Removed {
        std::string guid;
        Removal how = Removal::Deleted;
        std::optional<std::string> word;
    };
    std::vector<Removed> removed;
    // Messages moved to Recently Deleted and restored: a reader must keep
    // them. `word` as above.
    std::vector<Removed> restored;
    std::vector<std::string> deletedChatGuids;

    std::vector<std::string> junkChatGuids;    // is_filtered 2
    std::vector<std::string> blockedChatGuids; // is_blackholed
    std::vector<std::string> junkMessageGuids; // the messages of both
    std::vector<std::string> spamMessageGuids; // is_spam

    struct ThreadReply {
        std::string guid;
        std::string originatorGuid;
    };
    std::vector<ThreadReply> threadReplies;

    // Handles of one person (person_centric_id), by that id.
    std::map<std::string, std::vector<std::string>> personHandles;

    // With deferChanges: the changes left for applyStoreChanges.
    std::vector<StoreChange> pendingChanges;
};

// Writes a new store at `path` (which must not exist) in one transaction.
// Throws ChatStoreError on failure.
SampleStoreSummary buildSampleStore(const std::string& path,
                                    const SampleStoreOptions& options = {});

// Appends `count` messages to a store made by buildSampleStore (same chats and
// handles), after its last ROWID and with dates from its last date on, in one
// transaction: new messages for an incremental pass. Throws ChatStoreError.
SampleStoreSummary appendSampleMessages(const std::string& path, int64_t count, uint64_t seed,
                                        int archiveOnlyPercent = 40);

// Writes an address book (AddressBook-v22.abcddb, as AddressBookWriter) in
// `folder` naming the sample stores' people: a card with a first and last
// name for four in five of them, phone numbers written as people type them
// ("(555) 123-4567"), e-mail addresses in another case; the rest have no
// card. The same for every store, whatever its seed. Throws
// AddressBookWriterError.
void writeSampleAddressBook(const std::string& folder);

} // namespace orlune::samplestore
