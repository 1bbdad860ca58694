#pragma once
// The sync engine: copies new messages from the messaging store into the
// shadow database, one pass at a time, after the cursor the shadow database
// keeps.

#include "OrluneCore/ChatParticipant.hpp"
#include "OrluneCore/Environment.hpp"
#include "OrluneCore/PeopleMatcher.hpp"
#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/StoreDirectory.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
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
// Rows read again are compared with the stored copy (chat, name, sender,
// text, time, flags) and written only when they differ, so a pass over an
// unchanged store writes no message; a message in several chats keeps the
// chat it is stored with while it is still in it, and otherwise takes its
// most recent join. Every write of a pass (messages, cursor, count, marks)
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
    // How many of the newest store rows each pass reads again to catch text
    // that arrived or changed after the row was first read.
    static constexpr int kRecheckWindow = 2000;
    // How far below the join mark the joins are looked at again when the
    // store has reused the mark's rowid.
    static constexpr int64_t kJoinRecheckWindow = 1000;

    // Called after each committed page with the number of store rows read so
    // far in this pass (kept or dropped). It must not throw.
    using ProgressCallback = std::function<void(int64_t rowsRead)>;

    // Absent paths take ChatDBReader::defaultChatDBPath and
    // ShadowDB::defaultShadowDBPath, resolved here, once (so CHAT_DB_PATH and
    // SHADOW_DB_PATH are read now and the default shadow folder is created
    // now).
    explicit ShadowSync(const std::optional<std::string>& chatDBPath = std::nullopt,
                        const std::optional<std::string>& shadowDBPath = std::nullopt,
                        const Environment& environment = Environment::process());

    // One pass: checks the store, refreshes chat membership, catches up the
    // rows the cursor passed (see above), then copies the store's rows after
    // the cursor in pages of kBatchSize, each page committed with its cursor,
    // until a short page, and finally re-reads the newest rows. A store that
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
    // failure stay, with the cursor after them.
    int64_t performSync(const ProgressCallback& progress = {});

    // Opens the shadow database read-only (ShadowDBReader), counts its
    // messages and closes it. A file never synced throws ShadowDB::Error
    // (prepareFailed).
    int64_t messageCount() const;

    // Opens the shadow database read-only, returns ShadowDBReader::search
    // (query, limit) on it and closes it (ShadowSyncSearch.cpp). A file never
    // synced throws ShadowDB::Error (prepareFailed).
    std::vector<SearchResult> search(const std::string& query, int limit) const;

    const std::string& databasePath() const { return shadowDBPath_; }
    const std::string& sourceDatabasePath() const { return chatDBPath_; }

    // vCard files read with the address books at each pass, after them
    // (`orlune sync --contacts`, the configuration).
    void setContactFiles(std::vector<std::string> files) { contactFiles_ = std::move(files); }
    // What the last pass could not read of the contacts (a locked or damaged
    // address book, a missing vCard file), one sentence each, for the caller
    // to log; such a source is skipped and never fails the pass.
    const std::vector<std::string>& contactWarnings() const { return contactWarnings_; }

private:
    // Refreshes people, person_handles and chats (ShadowSyncPeople.cpp).
    void refreshPeople(ShadowDB& shadow, const std::vector<HandleRecord>& handles,
                       const std::vector<StoreChat>& chats,
                       const std::vector<ChatParticipant>& participants);

    std::string chatDBPath_;
    std::string shadowDBPath_;
    const Environment* environment_;
    std::vector<std::string> contactFiles_;
    std::vector<std::string> contactWarnings_;
};

} // namespace orlune::core
