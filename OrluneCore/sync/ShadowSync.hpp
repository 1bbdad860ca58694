#pragma once
// The sync engine: copies new messages from the messaging store into the
// shadow database, one pass at a time, after the cursor the shadow database
// keeps.

#include "base/Environment.hpp"
#include "contacts/PeopleMatcher.hpp"
#include "contacts/StoreDirectory.hpp"
#include "records/ChatParticipant.hpp"
#include "records/SearchResult.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlune::core {

class ShadowDB;

class ShadowSyncError : public std::exception {
public:
    enum class Kind { syncFailed, chatDBNotFound };

    // `message` is used by syncFailed only.
    explicit ShadowSyncError(Kind kind, std::string message = {});

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    Kind kind_;
    std::string message_;
    std::string description_;
};

// What a pass copies. The (date, ROWID) cursor in sync_state finds new rows
// cheaply, but on its own it misses rows the store writes "behind" it. A pass
// therefore also looks where the store itself says something changed, at a
// cost that grows with what changed, not with the size of the store:
//
// - Rows inserted with an old date (messages restored from a backup get new,
//   higher ROWIDs and keep their original dates). The message table is
//   AUTOINCREMENT, so every row added since the last pass has a ROWID above
//   the highest one the store had then. sync_marks.message_rowid holds that
//   mark; a pass reads the rows above it that lie behind the cursor (a range
//   scan on the primary key), then raises the mark to the store's highest
//   ROWID at the start of the pass. Every row at or below the mark has been
//   read or still lies ahead of the cursor.
// - Chat joins written after their message (the message was copied with chat
//   "unknown"). chat_message_join's own rowid grows with each join; joins above
//   sync_marks.join_rowid whose message lies behind the cursor have their
//   message read again. The store may delete its newest join and give that
//   rowid to the next one: the mark's row (message_id, chat_id) is kept and
//   checked, and when it no longer matches, the kJoinRecheckWindow joins below
//   the mark are looked at too.
// - Text that arrives or changes after its row was read (a body written after
//   the row, an edit): nothing in the row announces it, so the kRecheckWindow
//   newest rows are read again every pass. An edit of an older message is
//   caught only once a later pass over its rows happens for another reason.
//
// What the store holds besides plain messages is sorted as it is read:
// reactions (tapbacks, their removals, stickers placed on a message, poll
// votes, and plain-text reactions whose quote reproduces an earlier message
// of the same chat) go to the reactions table, current state only; group
// events are skipped; attachments are kept beside their message and a
// message of attachments alone is kept with empty text; an edited message
// takes its current text and edited_at; junk is left out unless
// setIncludeJunk. Rows whose date is not a positive integer are read by a
// separate range of the date index every pass (the cursor cannot order
// them) and written only when they changed.
//
// Deletions. The store removes messages in three ways, each noticed at a
// cost that does not grow with the size of the store on a pass where
// nothing was deleted:
// - Deleted for good (a message, or a conversation with its messages): the
//   store's triggers log each guid in deleted_messages, whose ROWID only
//   grows; the pass reads the log after the mark store_deletions keeps. As
//   the log may be pruned, the pass also checks the row count: the store's
//   COUNT(*) (answered from its smallest index) must equal the count of the
//   last pass plus the rows added above its highest ROWID since (a range
//   count on the primary key) less the logged deletions. Only when it does
//   not are all the store's guids read and compared with the stored ones (a
//   full scan, a few hundred milliseconds on 1,000,000 messages).
// - Moved to Recently Deleted (one message or a whole conversation): the
//   row stays but its chat join moves to chat_recoverable_message_join, a
//   small table read whole every pass and compared with the set the last
//   pass saw (recently_deleted). Rows that entered it are removed from the
//   copy; rows that left it and still exist (restored) are read again.
// - Unsent, or an edit: the row changes in place, within minutes of being
//   sent, so the re-read of the newest rows (below) finds it: an unsent
//   message is removed, an edited one rewritten.
// A removed message takes with it its full-text entries, attachments and
// the reactions on it. When a pass removed any, its words are then purged
// from the file: the connection runs with secure_delete (freed pages and
// cells are zeroed), the full-text index is merged into one segment (FTS5
// otherwise keeps a deleted row's terms in its old segments until a merge),
// and the WAL is checkpointed into the file and truncated.
//
// Chats left out by the person's choice (setExcludedChats, by chat id):
// their rows are never read into the copy, nor are their members, title or
// the people met only in them (members of no other chat who sent no stored
// message); a message the store also joins to another chat is left out with
// them. A chat left out after it was copied loses, at the next pass, its
// messages with their reactions, attachments, index entries and chats, and
// its words are purged from the file as for a deletion (below). The
// database keeps only a digest of each chat left out (excludedChatKey), so
// that a pass notices one taken back in and reads its messages again from
// the store.
//
// Rows read again are compared with the stored copy (chat, name, sender,
// text, time, flags) and written only when they differ, so a pass over an
// unchanged store writes no message; a message in several chats keeps the
// chat it is stored with while it is still in it, and otherwise takes its
// most recent join; message_chats lists every chat it is in, compared and
// written the same way (a join added later is found by the join check
// above). Every write of a pass (messages, cursor, count, marks)
// is one transaction per page, so a pass stopped at any moment loses nothing
// and copies nothing twice. The store is opened and checked (every table and
// column read) before the shadow database is opened.
//
// The shadow database records which store it copies (the store's path and
// the guid of its newest message, ShadowDB::SyncSource). A pass refuses
// another store (another path whose messages do not match) before writing
// anything, and copies a store made anew at the same path (the recorded
// message is gone or replaced, or the store's ROWIDs went back) whole, as
// into a new database; messages already copied stay.
//
// Each pass also refreshes the people, person_handles and chats tables from
// the store's handles and chats and the person's contacts (address books and
// the vCard files given), skipping the work when none of them changed since
// the last pass (a fingerprint of the files and the store's tables).
//
// Holds the two paths and the contact files; every pass opens and closes its own connections,
// so an engine may be kept and used again. One pass at a time per shadow
// database: a pass holds a lock on the file "<shadow database>-lock" (made
// beside it, owner-only) and a second pass, in this process or another,
// fails at once with syncFailed. Not thread-safe; a pass runs wholly on the
// calling thread.
class ShadowSync {
public:
    // Rows read from the store per page.
    static constexpr int kBatchSize = 10000;
    // Pages of new rows written in one transaction (ShadowDB::PageGroup). More
    // than one writes fewer bytes (each commit rewrites the guid indexes'
    // pages it touched) and made a first copy of 200,000 messages faster,
    // but at 1,000,000 it was no faster and its peak memory rose from 162 MB
    // to 220 MB (bench_sync): one page a transaction until the guid-keyed
    // tables stop growing at random places. A pass killed part way loses
    // the pages since its last commit, which the next pass reads again.
    static constexpr int kPagesPerTransaction = 1;
    // How many of the newest store rows each pass reads again to catch text
    // that arrived or changed after the row was first read.
    static constexpr int kRecheckWindow = 2000;
    // How far below the join mark the joins are looked at again when the
    // store has reused the mark's rowid.
    static constexpr int64_t kJoinRecheckWindow = 1000;

    // Called after each page written with the number of store rows read so
    // far in this pass (kept or dropped). It must not throw.
    using ProgressCallback = std::function<void(int64_t rowsRead)>;

    // Absent paths take ChatDBReader::defaultChatDBPath and
    // ShadowDB::shadowDBPath, resolved here, once (so CHAT_DB_PATH and
    // SHADOW_DB_PATH are read now). Nothing is created here: a pass into the
    // default shadow database prepares its folder first
    // (ShadowDB::prepareShadowFolder).
    explicit ShadowSync(const std::optional<std::string>& chatDBPath = std::nullopt,
                        const std::optional<std::string>& shadowDBPath = std::nullopt,
                        const Environment& environment = Environment::process());

    // One pass: checks the store, refreshes chat membership, catches up the
    // rows the cursor passed (see above), then copies the store's rows after
    // the cursor in pages of kBatchSize, each page written with its cursor
    // and kPagesPerTransaction pages committed together, until a short page,
    // and finally re-reads the newest rows. A store that
    // cannot be opened or lacks a table or column is reported before the
    // shadow database is opened. Returns the number of messages written
    // (new or replacing a copy with the same guid), not the growth of the
    // shadow database. Throws ShadowSyncError (chatDBNotFound when nothing is
    // at the store's path, not when the system refuses to examine it, and
    // nothing else is touched then; syncFailed when another pass into the
    // same shadow database is running or the shadow database copies another
    // store), ChatDBReader::Error or ShadowDB::Error (a shadow database that
    // is another program's file or was written by a newer version is refused
    // untouched; an older one is upgraded first); pages committed before a
    // failure stay, with the cursor after them. Into the default shadow
    // database, a pass prepares its folder (ShadowDB::prepareShadowFolder)
    // once the store has been read, and fails with syncFailed, before the
    // shadow database is opened, when that cannot be done.
    int64_t performSync(const ProgressCallback& progress = {});

    // Opens the shadow database read-only (ShadowDBReader), counts its
    // messages and closes it. A file never synced throws ShadowDB::Error
    // (prepareFailed).
    int64_t messageCount() const;

    // Junk: chats the store files as junk (chat.is_filtered 2), blocked
    // senders' chats (chat.is_blackholed) and messages marked spam are left
    // out unless this is set. Changing it makes the next pass copy the store
    // again from the start with the new choice.
    void setIncludeJunk(bool include) { includeJunk_ = include; }

    // Chats the next passes leave out, by chat id (messages.chat_id, the
    // store's chat guid); see above. Empty: every chat is copied. Absent (the
    // default): the chats the last pass left out (by their digests), for a
    // caller that cannot tell which chats the person leaves out now.
    void setExcludedChats(std::optional<std::set<std::string>> chatIds) {
        excludedChats_ = std::move(chatIds);
    }
    // What the shadow database records of an excluded chat: the hexadecimal
    // SHA-256 of its id.
    static std::string excludedChatKey(const std::string& chatId);

    const std::string& databasePath() const { return shadowDBPath_; }
    const std::string& sourceDatabasePath() const { return chatDBPath_; }

    // vCard files read with the address books at each pass, after them
    // (`orlune sync --contacts`, the configuration).
    void setContactFiles(std::vector<std::string> files) { contactFiles_ = std::move(files); }
    // What the last pass could not read of the contacts (a locked or damaged
    // address book, a missing vCard file), one sentence each, for the caller
    // to log; such a source is skipped and never fails the pass.
    const std::vector<std::string>& contactWarnings() const { return contactWarnings_; }
    // What else the last pass has to tell the person, one sentence each: the
    // store at the path is not the one copied before, so the copy was made
    // again from it; the search index was found damaged and rebuilt.
    const std::vector<std::string>& passNotes() const { return passNotes_; }

private:
    // After a pass that stopped uncleanly, or when a search found the
    // full-text index damaged (SearchIndexRepair::pending): checks the
    // indexes, rebuilds the damaged ones and says so in passNotes.
    void repairSearchIndexes(ShadowDB& shadow, bool afterUncleanStop);
    // Refreshes people, person_handles and chats (ShadowSyncPeople.cpp),
    // leaving out the people found only behind `leftOutHandles` (the handles
    // met only in the chats left out).
    void refreshPeople(ShadowDB& shadow, const std::vector<HandleRecord>& handles,
                       const std::vector<HandleRecord>& leftOutHandles,
                       const std::vector<StoreChat>& chats,
                       const std::vector<ChatParticipant>& participants);

    std::string chatDBPath_;
    std::string shadowDBPath_;
    // True when shadowDBPath_ is the default one, whose folder a pass
    // prepares.
    bool defaultShadowDB_ = false;
    const Environment* environment_;
    std::vector<std::string> contactFiles_;
    std::vector<std::string> contactWarnings_;
    std::vector<std::string> passNotes_;
    bool includeJunk_ = false;
    std::optional<std::set<std::string>> excludedChats_;
};

} // namespace orlune::core
