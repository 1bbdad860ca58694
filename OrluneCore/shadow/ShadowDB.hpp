#pragma once
// The shadow database: Orlune's private, read-write copy of the messages, with
// its full-text index, chat membership and sync cursor. Its schema and
// versions are in ShadowSchema; the read operations it shares with the
// read-only handle are in ShadowDBReader.

#include "store/ChatDBReader.hpp"
#include "records/ChatParticipant.hpp"
#include "base/Environment.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "records/ShadowMessage.hpp"
#include "shadow/ShadowPeople.hpp"
#include "shadow/ShadowSchema.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace orlune::core {

// One read-write connection to a shadow database file. Owns the connection and
// closes it on close() or destruction; not copyable or movable (callers share
// it by reference). Every operation is synchronous on the calling thread and
// prepares and finalizes its own statements, so none stays open between calls.
// The connection is in serialized mode, but transactions span one call: two
// threads must not interleave insertBatch or replaceChatParticipants calls.
// Every failure is thrown as ShadowDB::Error (ShadowDBError). While another
// connection holds the write lock, a write waits up to kBusyTimeout.
class ShadowDB : public ShadowDBReader {
public:
    // The shadow database's file name, and its folder in the per-user data
    // folder.
    static constexpr const char* kFileName = "shadow.db";
    static constexpr const char* kFolder = "OrluneRLM";
    // Where `orlune sync` wrote it before every program used kFolder.
    static constexpr const char* kOldFolder = "Orlune";
    // The variable that names another file.
    static constexpr const char* kPathVariable = "SHADOW_DB_PATH";

    // The one shadow database of the command-line tool, the application and
    // the helper: SHADOW_DB_PATH exactly as set when present; otherwise
    // <data folder>/OrluneRLM/shadow.db. For the latter, the folders are
    // created owner-only (0700) when missing, and a database left at the old
    // default <data folder>/Orlune/shadow.db is moved into place (with its
    // WAL folded in first) when none is there yet, so that it need not be
    // copied again; when both exist the old one is left alone. A failure to
    // create the folder or to move the old file is put in `failure` (empty on
    // success) and shows up again when the file is opened.
    static std::string defaultShadowDBPath(const Environment& environment, std::string& failure);
    // As above, ignoring the failure.
    static std::string defaultShadowDBPath(const Environment& environment = Environment::process());

    // Opens the file at `path`, or at defaultShadowDBPath() when absent,
    // creating it (mode 0600) when missing. An existing file is first checked
    // by reading only: a folder, a FIFO, a file that is not a shadow database
    // or one written by a newer version throws failedToOpen and is left
    // exactly as it was. Then the file and its -wal and -shm are made
    // owner-only and the connection's pragmas are set (WAL journaling). Does
    // not create or upgrade the schema. The path is always a file name, never
    // a URI. Throws failedToOpen, or queryFailed when a pragma fails.
    explicit ShadowDB(const std::optional<std::string>& path = std::nullopt,
                      const Environment& environment = Environment::process());
    ~ShadowDB() override;

    // Brings the schema to the newest version (ShadowSchema::migrate): a new
    // file gets every table, an older one the steps it lacks, each step in
    // one transaction with its version bump. Never alters what a step has
    // made. Throws queryFailed when a step fails (the steps before it stay).
    void createSchemaIfNeeded();

    // Inserts or replaces (by guid) every message in one transaction, with
    // its chats in message_chats (the chats of the list's rows of its guid)
    // and its emoji in message_emoji,
    // and returns how many were written (new or replacing), not the growth of the
    // table. An empty list returns 0 without touching the database. All or
    // nothing: on failure the batch is rolled back and prepareFailed or
    // insertFailed ("Failed on guid=<guid>: <SQLite's message>") is thrown, or
    // queryFailed when BEGIN or COMMIT fails.
    int insertBatch(const std::vector<ShadowMessage>& messages);

    struct BatchResult {
        int written = 0;         // what insertBatch returns
        int64_t countGrowth = 0; // how much messageCount() grew
        int64_t removed = 0;     // messages deleted by commitSyncPage's changes
    };
    // As insertBatch, and also reports how much messageCount() grew, so that a
    // caller keeping the count up to date need not count the whole table
    // after every batch: a message whose guid was not stored (or was stored
    // with deleted_at set) adds one, replacing a live copy adds none.
    BatchResult insertBatchCountingGrowth(const std::vector<ShadowMessage>& messages);

    // Which messaging store the database copies (the sync_source row).
    struct SyncSource {
        std::string storePath;
        int64_t anchorRowid = 0;
        std::optional<std::string> anchorGuid;
        bool operator==(const SyncSource&) const = default;
    };
    // The recorded source; absent before the first sync that records one.
    // Throws prepareFailed or queryFailed.
    std::optional<SyncSource> syncSource();

    // One page of a sync pass in one transaction: inserts or replaces the
    // messages (as insertBatchCountingGrowth), then stores the cursor, the
    // count `countBefore` plus the batch's growth, the current time, `marks`
    // and `source`. A process stopped at any moment leaves either the whole
    // page with its cursor or neither. An empty list still stores cursor,
    // marks and source. Throws as insertBatch; on failure nothing of the page
    // is kept.
    // What a page changes besides its messages, in the same transaction.
    struct PageChanges {
        // Applied in order: an addition replaces the sender's earlier
        // reaction of its kind on the target, unless a later one is stored;
        // a removal deletes it.
        std::vector<StoreReaction> reactions;
        // Messages (and reactions, by their own guid) to delete, with their
        // attachments and the reactions on them. Guids not stored are
        // passed over.
        std::vector<std::string> removedGuids;
        // Rows copied as messages that are something else (a reaction an
        // older version copied as a message): deleted from messages only.
        std::vector<std::string> notMessages;
        // Every chat of each of these stored messages (guid, chat ids),
        // replacing the chats stored for it; applied after the messages.
        std::vector<std::pair<std::string, std::vector<std::string>>> memberships;
    };
    // `messages` are written with their attachments (replacing those stored
    // for the same guid) and edit time; then `changes` are applied; the
    // count stored is `countBefore` plus the growth less the removed.
    BatchResult commitSyncPage(const std::vector<ShadowMessage>& messages, const Watermark& cursor,
                               int64_t countBefore, const SyncMarks& marks,
                               const SyncSource& source, const PageChanges& changes = {});

    // Of `changes`, what would change the stored copy: additions not stored
    // yet (by guid), removals with a stored reaction to take back, removed
    // guids that are stored (messages or reactions). Throws prepareFailed
    // or queryFailed.
    PageChanges changesToApply(const PageChanges& changes);
    // The newest `limit` stored messages of a chat at or before `timestamp`
    // (guid and text), newest first.
    std::vector<std::pair<std::string, std::string>> recentTexts(const std::string& chatId,
                                                                 int64_t timestamp, int limit);

    // The store_deletions row (zeros before the first pass that writes it).
    struct DeletionMarks {
        int64_t tombstoneRowid = 0;
        int64_t storeRows = 0;
        int64_t storeMaxRowid = 0;
        bool includeJunk = false;
        bool rereadAll = false; // compare every row read with its copy this pass
        bool operator==(const DeletionMarks&) const = default;
    };
    DeletionMarks deletionMarks();
    void storeDeletionMarks(const DeletionMarks& marks);
    // The recently_deleted rows (store ROWID, guid), by ROWID; and replacing
    // them. Throw prepareFailed or queryFailed.
    std::vector<std::pair<int64_t, std::string>> recentlyDeletedRows();
    void replaceRecentlyDeletedRows(const std::vector<std::pair<int64_t, std::string>>& rows);
    // Every stored message guid and reaction guid.
    std::vector<std::string> storedGuids();
    // Makes the words of deleted messages unrecoverable from the file: the
    // full-text indexes (words and attachment names) are merged into one segment each (the deleted
    // entries' segments are rewritten without them; with secure_delete, which every connection of
    // this class sets, the freed pages are zeroed), and the WAL is checkpointed into the file and
    // truncated. Returns false when a reader kept the WAL from being emptied (the next call
    // completes it).
    bool purgeDeletedContent();
    // Empties messages, reactions and attachments and sets the cursor and
    // marks back, so that the next pass copies the store again.
    void clearCopiedMessages();

    // Of `candidates` (rows read from the store, several per guid for a
    // message in several chats, the most recent chat last), the ones to write
    // so that the stored copy of each guid matches the store: none when the
    // stored row has the chat of one of the guid's rows and that row's name,
    // sender, text, time and flags; otherwise that row when its chat matches,
    // else the guid's last row. Order of first appearance. Throws
    // prepareFailed or queryFailed.
    std::vector<ShadowMessage> messagesToWrite(const std::vector<ShadowMessage>& candidates);

    // Every chat of each message of `candidates` (rows read from the store,
    // one per chat of a message), for the messages whose stored chats
    // (message_chats) differ and for every message of `written` (writing a
    // message clears its chats). A message in no chat has none. Throws
    // prepareFailed or queryFailed.
    std::vector<std::pair<std::string, std::vector<std::string>>>
    membershipsToWrite(const std::vector<ShadowMessage>& candidates,
                       const std::vector<ShadowMessage>& written);
    // False while a database copied before message_chats existed still lacks
    // the extra chats of its messages in several chats; and setting it.
    bool membershipsComplete();
    void markMembershipsComplete();

    // Stores the cursor, the message count and the current time (whole
    // seconds since 1970-01-01 UTC). Throws prepareFailed or queryFailed.
    void updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount);

    // Replaces the whole membership table in one transaction; an empty list
    // empties it. On failure (for instance a duplicate chat/handle pair) the
    // previous membership stays and the error is thrown (insertFailed,
    // prepareFailed or queryFailed).
    void replaceChatParticipants(const std::vector<ChatParticipant>& participants);

    // The fingerprint the last replacePeople stored; absent before the first.
    // Throws prepareFailed or queryFailed (ShadowDBPeople.cpp).
    std::optional<std::string> peopleFingerprint();
    // Replaces the people, person_handles and chats tables with `tables` and
    // stores `fingerprint`, in one transaction: on failure the previous rows
    // stay. Throws insertFailed, prepareFailed or queryFailed.
    void replacePeople(const PeopleTables& tables, const std::string& fingerprint);

private:
    // Inside a page's transaction (ShadowDBDetails.cpp): the messages'
    // attachments, and the page's reactions and removals (returns how many
    // live messages were removed).
    void writeAttachments(const std::vector<ShadowMessage>& messages);
    // Inside a batch's transaction, after its messages: their emoji.
    void writeEmoji(const std::vector<ShadowMessage>& messages);
    // Inside a batch's transaction, after its messages: the spaced text of
    // those written in scripts without spaces (spaced_texts).
    void writeSpacedTexts(const std::vector<ShadowMessage>& messages);
    int64_t applyPageChanges(const PageChanges& changes);
    // Writes the messages in one transaction; `beforeCommit`, when given,
    // runs inside it after the last message (and even for an empty list).
    BatchResult insertMessages(const std::vector<ShadowMessage>& messages, bool countGrowth,
                               const std::function<void(const BatchResult&)>& beforeCommit = {});
    // After a failed batch: the guid of the first message that cannot be
    // written on its own and SQLite's message for it (empty when none fails).
    std::pair<std::string, std::string>
    diagnoseFailedBatch(const std::vector<ShadowMessage>& messages);
    // Sets up the temporary trigger that counts replaced live rows, once per
    // connection. Throws sqlite::Error.
    void prepareReplacedCounter();

    // Live rows deleted by REPLACE during the current batch, counted by a
    // temporary trigger of this connection (set up on first use).
    int64_t replacedLiveRows_ = 0;
    bool replacedCounterReady_ = false;
};

} // namespace orlune::core
