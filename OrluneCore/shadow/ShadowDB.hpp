#pragma once
// The shadow database: Orlune's private, read-write copy of the messages, with
// its full-text index, chat membership and sync cursor. Its schema and
// versions are in ShadowSchema; the read operations it shares with the
// read-only handle are in ShadowDBReader; each table group's own statements
// are in its class (ShadowMessageTables, ShadowSyncTables, ...), which this
// facade hands the sync.

#include "base/Environment.hpp"
#include "records/ChatParticipant.hpp"
#include "records/ShadowMessage.hpp"
#include "shadow/SearchIndexRepair.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "shadow/ShadowPeople.hpp"
#include "shadow/ShadowSchema.hpp"

#include <cstdint>
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
// The connection is in serialized mode, but transactions span one call (or a
// PageGroup): two threads must not interleave insertBatch or
// replaceChatParticipants calls.
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
    // <data folder>/OrluneRLM/shadow.db. Reads the environment only: creates,
    // moves and opens nothing, so read-only commands and the helper call it
    // freely.
    static std::string shadowDBPath(const Environment& environment = Environment::process());

    // Makes the default place of shadowDBPath ready for a writer (a sync);
    // does nothing when SHADOW_DB_PATH is set. Creates the folders owner-only
    // (0700) when missing, then moves a database left at the old default
    // <data folder>/Orlune/shadow.db into place (with its WAL folded in
    // first) when none is there yet, so that it need not be copied again;
    // when both exist the old one is left alone. Returns what stopped it,
    // absent on success: the folder that could not be made and why, or the
    // old database that could not be moved and why (it is in use, it is not
    // a shadow database this version can use, a -wal or -shm file is in the
    // way). Nothing is lost either way; a writer should stop and say so.
    static std::optional<std::string>
    prepareShadowFolder(const Environment& environment = Environment::process());

    // Opens the file at `path`, or when absent at shadowDBPath() after
    // prepareShadowFolder() (whose problem is thrown as failedToOpen),
    // creating it (mode 0600) when missing. An existing file is first checked
    // by reading only: a folder, a FIFO, a file that is not a shadow database
    // or one written by a newer version throws failedToOpen and is left
    // exactly as it was. Then the file and its -wal and -shm are made
    // owner-only and the connection's pragmas are set (WAL journaling). Does
    // not create or upgrade the schema. The path is always a file name, never
    // a URI. A file that cannot be written, or a folder that does not exist
    // or refuses new files, throws failedToOpen naming it, the cause and the
    // way out. Throws failedToOpen, or queryFailed when a pragma fails.
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
        int written = 0; // what insertBatch returns
        // How much messageCount() grew: a message whose guid was not stored
        // (or was stored with deleted_at set) adds one, replacing a live copy
        // adds none, a removed message takes one away.
        int64_t countGrowth = 0;
        int64_t removed = 0; // messages deleted by commitSyncPage's changes
    };

    using SyncSource = ShadowSyncTables::SyncSource;
    using DeletionMarks = ShadowSyncTables::DeletionMarks;

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
    // One page of a sync pass in one transaction: inserts or replaces the
    // messages (as insertBatch) with their attachments (replacing those
    // stored for the same guid) and edit time, then applies `changes`, then
    // stores the cursor, the count `countBefore` plus the page's growth less
    // the removed, the current time, `marks` and `source`. A process stopped
    // at any moment leaves either the whole page with its cursor or neither.
    // An empty list still stores cursor, marks and source. Throws as
    // insertBatch; on failure nothing of the page is kept.
    BatchResult commitSyncPage(const std::vector<ShadowMessage>& messages, const Watermark& cursor,
                               int64_t countBefore, const SyncMarks& marks,
                               const SyncSource& source, const PageChanges& changes = {});

    // Several pages of a pass in one transaction. Every commit writes each
    // database page it changed to the log, and new guids (the keys of
    // messages.guid's index and of message_chats) land all over their trees,
    // so each page of new messages changes most of those trees' pages again:
    // committed one by one, a first copy spends much of its time writing the
    // same index pages over and over. Inside a group each commitSyncPage
    // writes its page and cursor into the group's transaction, and this
    // connection reads them at once; other connections and the file see them
    // at commit(). A page that fails to be written rolls the whole group back
    // (its pages are read again by the next pass). Destroyed without
    // commit() after any other failure (the store could not be read), it
    // commits the pages written so far, as if each had been committed alone;
    // should that commit fail, they are rolled back and read again. One group
    // at a time; inside it only commitSyncPage, insertBatch and reads may be
    // called (the other writes begin transactions of their own, which SQLite
    // refuses inside another).
    class PageGroup {
    public:
        // Throws queryFailed when the transaction cannot begin.
        explicit PageGroup(ShadowDB& shadow);
        ~PageGroup();
        PageGroup(const PageGroup&) = delete;
        PageGroup& operator=(const PageGroup&) = delete;

        // Called at most once. Throws queryFailed; the group's pages are
        // then rolled back.
        void commit();

    private:
        ShadowDB& shadow_;
        std::optional<sqlite::Transaction> transaction_;
    };

    // Makes the words of deleted messages unrecoverable from the file: the
    // full-text indexes (words and attachment names) are merged into one segment each (the deleted
    // entries' segments are rewritten without them; with secure_delete, which every connection of
    // this class sets, the freed pages are zeroed), and the WAL is checkpointed into the file and
    // truncated. Returns false when a reader kept the WAL from being emptied (the next call
    // completes it).
    bool purgeDeletedContent();
    // Empties messages, reactions and attachments and sets the cursor and
    // marks back, in one transaction, so that the next pass copies the store
    // again.
    void clearCopiedMessages();

    // Stores the cursor, the message count and the current time (whole
    // seconds since 1970-01-01 UTC). Throws prepareFailed or queryFailed.
    void updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount);

    // Replaces the whole membership table in one transaction
    // (ShadowPeopleTables::replaceParticipants).
    void replaceChatParticipants(const std::vector<ChatParticipant>& participants);

    // Replaces the people, person_handles and chats tables with `tables` and
    // stores `fingerprint`, in one transaction (ShadowPeopleTables::replace).
    void replacePeople(const PeopleTables& tables, const std::string& fingerprint);

    // The table groups, for the sync's own reads and writes of them.
    ShadowMessageTables& messageTables() { return messages_; }
    ShadowSyncTables& syncTables() { return sync_; }
    ShadowPeopleTables& peopleTables() { return people_; }
    ShadowReactionsAndAttachments& reactionsAndAttachments() { return reactionsAndAttachments_; }
    // The full-text indexes' check and rebuild.
    SearchIndexRepair searchIndexRepair() { return SearchIndexRepair(connection_); }

private:
    // Inside a page's transaction: the page's reactions, memberships and
    // removals; returns how many live messages were removed.
    int64_t applyPageChanges(const PageChanges& changes);
};

} // namespace orlune::core
