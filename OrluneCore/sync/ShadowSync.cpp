#include "sync/ShadowSync.hpp"

#include "base/Sha256.hpp"
#include "contacts/StoreDirectory.hpp"
#include "shadow/ShadowDB.hpp"
#include "sql/StoreConnection.hpp"
#include "store/ChatDBReader.hpp"
#include "store/Reaction.hpp"
#include "sync/SyncDecisions.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::core {

namespace {

// One sync pass at a time per shadow database: an exclusive lock on the file
// "<database>-lock" beside it, taken without waiting and released on
// destruction or when the process ends, however it ends. A lock file that
// cannot be made (a missing folder) leaves the shadow database's own open to
// report the problem. While the lock is held the file holds kRunning, and it
// is emptied on destruction (a pass that ends, even by an exception): a pass
// that finds it not empty follows one that stopped uncleanly (killed, or the
// machine went down).
class PassLock {
public:
    explicit PassLock(const std::string& databasePath) {
        fd_ = ::open((databasePath + "-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                     0600);
        if (fd_ < 0) {
            return;
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            throw ShadowSyncError(ShadowSyncError::Kind::syncFailed,
                                  "another sync into " + databasePath +
                                      " is running; try again when it has finished");
        }
        struct stat status {};
        afterUncleanStop_ = ::fstat(fd_, &status) == 0 && status.st_size > 0;
        (void)!::pwrite(fd_, kRunning, sizeof kRunning - 1, 0);
    }
    ~PassLock() {
        if (fd_ >= 0) {
            (void)!::ftruncate(fd_, 0);
            ::close(fd_);
        }
    }
    PassLock(const PassLock&) = delete;
    PassLock& operator=(const PassLock&) = delete;

    // True when the pass before this one did not end.
    bool afterUncleanStop() const { return afterUncleanStop_; }

private:
    static constexpr char kRunning[] = "running\n";
    int fd_ = -1;
    bool afterUncleanStop_ = false;
};

// `path` with its symbolic links followed, or as given when that fails.
std::string resolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// `path` made absolute against the working folder, its links not followed.
std::string absolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// Why a pass into `shadowPath`, which copies the store `recordedStore`, will
// not copy the store at `storePath`, and the ways out.
std::string anotherStoreMessage(const std::string& shadowPath, const std::string& recordedStore,
                                const std::string& storePath) {
    return shadowPath + " is a copy of the messaging store " + recordedStore + ", and " +
           storePath + " holds other messages; nothing was copied. To copy " + storePath +
           ", sync it into another shadow database (--shadow-db), or delete " + shadowPath +
           " (with its -wal and -shm files) and sync again.";
}

std::string describe(ShadowSyncError::Kind kind, const std::string& message) {
    switch (kind) {
    case ShadowSyncError::Kind::syncFailed:
        return "Sync failed: " + message;
    case ShadowSyncError::Kind::chatDBNotFound:
        return "iMessage database not found. Ensure Full Disk Access is granted.";
    }
    return message;
}

// How many of a chat's stored messages before it a plain-text reaction
// ("Liked “…”") is compared with to find the message it quotes.
constexpr int kQuotedMessageLookBack = 50;

// Moves the rows of `rows` written as plain-text reactions whose quote
// reproduces an earlier message of the same chat (in this page, or stored)
// into its reactions, and counts them among the reactions left out. Rows
// that only look like reactions stay messages.
void takeTextReactions(FetchResult& rows, ShadowDB& shadow) {
    // The messages kept are moved down in place, and only once one has been
    // taken: most pages hold no reaction, and moving every message of a page
    // into a new list is a cost a first sync feels.
    std::vector<ShadowMessage>& messages = rows.messages;
    size_t kept = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        ShadowMessage& message = messages[i];
        const auto parsed = parseReactionText(message.text());
        std::optional<std::string> target;
        if (parsed) {
            for (size_t j = kept; j-- > 0 && !target;) {
                if (messages[j].chatId() == message.chatId() &&
                    messages[j].timestamp() <= message.timestamp() &&
                    reactionQuoteMatches(parsed->quoted, messages[j].text())) {
                    target = messages[j].guid();
                }
            }
            if (!target && message.chatId() != "unknown") {
                for (const auto& [guid, text] : shadow.messageTables().recentTexts(
                         message.chatId(), message.timestamp(), kQuotedMessageLookBack)) {
                    if (guid != message.guid() && reactionQuoteMatches(parsed->quoted, text)) {
                        target = guid;
                        break;
                    }
                }
            }
        }
        if (!target) {
            if (kept != i) {
                messages[kept] = std::move(message);
            }
            ++kept;
            continue;
        }
        rows.reactions.push_back(
            StoreReaction{message.guid(), *target, std::string(reactionKindName(parsed->kind)),
                          false, message.sender(), std::nullopt, message.timestamp()});
        ++rows.leftOut.reactions;
    }
    messages.erase(messages.begin() + static_cast<std::ptrdiff_t>(kept), messages.end());
}

// How many of `removed` (stored copies a page takes away) are in `unsent`.
int64_t countUnsentCopies(const std::vector<std::string>& removed,
                          const std::vector<std::string>& unsent) {
    return std::count_if(removed.begin(), removed.end(), [&](const std::string& guid) {
        return std::find(unsent.begin(), unsent.end(), guid) != unsent.end();
    });
}

// Every stored message guid and reaction guid.
std::vector<std::string> storedGuids(ShadowDB& shadow) {
    std::vector<std::string> guids = shadow.messageTables().guids();
    std::vector<std::string> reactions = shadow.reactionsAndAttachments().reactionGuids();
    guids.insert(guids.end(), reactions.begin(), reactions.end());
    return guids;
}

// What the copy may hold of the store's chats, members and handles with the
// chats in `excluded` left out: those chats and their members go, and so do
// the handles met only in them (members of no other chat) that sent no
// stored message.
struct IncludedDirectory {
    std::vector<ChatParticipant> participants;
    std::vector<StoreChat> chats;
    std::vector<HandleRecord> handles;
    // The handles met only in the chats left out.
    std::vector<HandleRecord> leftOutHandles;
};

IncludedDirectory withoutExcluded(const std::set<std::string>& excluded,
                                  std::vector<ChatParticipant> participants,
                                  std::vector<StoreChat> chats, std::vector<HandleRecord> handles,
                                  ShadowDB& shadow) {
    if (excluded.empty()) {
        return {std::move(participants), std::move(chats), std::move(handles), {}};
    }
    std::set<int64_t> inExcluded;
    std::set<int64_t> inIncluded;
    for (const ChatParticipant& member : participants) {
        (excluded.count(member.chatId) > 0 ? inExcluded : inIncluded).insert(member.handleId);
    }
    std::erase_if(participants,
                  [&](const ChatParticipant& member) { return excluded.count(member.chatId) > 0; });
    std::erase_if(chats, [&](const StoreChat& chat) { return excluded.count(chat.guid) > 0; });
    std::vector<HandleRecord> leftOut;
    std::erase_if(handles, [&](const HandleRecord& handle) {
        const bool metOnlyThere = inExcluded.count(handle.rowid) > 0 &&
                                  inIncluded.count(handle.rowid) == 0 &&
                                  !shadow.messageTables().hasMessageFrom(handle.id);
        if (metOnlyThere) {
            leftOut.push_back(handle);
        }
        return metOnlyThere;
    });
    return {std::move(participants), std::move(chats), std::move(handles), std::move(leftOut)};
}

} // namespace

std::string ShadowSync::excludedChatKey(const std::string& chatId) {
    return sha256HexPrefix(chatId, 32);
}

ShadowSyncError::ShadowSyncError(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)), description_(describe(kind_, message_)) {}

ShadowSync::ShadowSync(const std::optional<std::string>& chatDBPath,
                       const std::optional<std::string>& shadowDBPath,
                       const Environment& environment)
    : chatDBPath_(chatDBPath ? *chatDBPath : ChatDBReader::defaultChatDBPath(environment)),
      shadowDBPath_(shadowDBPath ? *shadowDBPath : ShadowDB::shadowDBPath(environment)),
      defaultShadowDB_(!shadowDBPath), environment_(&environment) {}

void ShadowSync::repairSearchIndexes(ShadowDB& shadow, bool afterUncleanStop) {
    const bool requested = SearchIndexRepair::pending(shadowDBPath_);
    if (!requested && !afterUncleanStop) {
        return;
    }
    SearchIndexRepair repair = shadow.searchIndexRepair();
    const std::vector<std::string> damaged = repair.damagedIndexes();
    if (damaged.empty()) {
        repair.clearMark();
        return;
    }
    repair.rebuild(damaged);
    std::string names;
    for (const std::string& index : damaged) {
        names += (names.empty() ? "" : ", ") + index;
    }
    passNotes_.push_back("The search index of " + shadowDBPath_ + " was damaged (" + names +
                         "); it was rebuilt from the copied messages.");
}

int64_t ShadowSync::performSync(const ProgressCallback& progress) {
    if (pathIsMissing(chatDBPath_)) {
        throw ShadowSyncError(ShadowSyncError::Kind::chatDBNotFound);
    }

    // The store is opened, checked and read for membership before the shadow
    // database is touched: a store that cannot be opened or lacks a table or
    // column leaves the shadow database exactly as it was.
    ChatDBReader reader(chatDBPath_);
    reader.checkSchema();
    reader.setIncludeJunk(includeJunk_);
    const std::vector<ChatParticipant> participants = reader.fetchChatParticipants();
    std::vector<HandleRecord> handles;
    std::vector<StoreChat> chats;
    {
        std::string failure;
        sqlite::Connection store = openStoreReadOnly(chatDBPath_, failure);
        if (!store) {
            throw ChatDBReader::Error::failedToOpen(failure);
        }
        try {
            handles = StoreDirectory::handles(store.get());
            chats = StoreDirectory::chats(store.get());
        } catch (const sqlite::Error& error) {
            throw ChatDBReader::Error::queryFailed(error.what());
        }
    }
    // Where the store stood when the pass began; rows and joins added later
    // are left to the next pass.
    const int64_t storeMaxRowid = reader.maxMessageRowid();
    const int64_t storeMaxJoin = reader.maxJoinRowid();

    // The store is recorded by the path it was given by (made absolute, its
    // links not followed), so that a store put in its place reads the same
    // whether the path is a file or a link; databases of older versions
    // recorded the path with its links followed, which is recognised too.
    const ShadowDB::SyncSource source{absolutePath(chatDBPath_), storeMaxRowid,
                                      storeMaxRowid > 0 ? reader.guidAt(storeMaxRowid)
                                                        : std::nullopt};

    // The default shadow database's folder is made (or an older version's
    // database moved into it) only now, once the store has been read.
    if (defaultShadowDB_) {
        if (auto problem = ShadowDB::prepareShadowFolder(*environment_)) {
            throw ShadowSyncError(ShadowSyncError::Kind::syncFailed, *problem);
        }
    }

    // Opening checks the file by reading only (another program's file is
    // refused before the lock file is made beside it); everything written
    // from the schema on is written under the lock.
    ShadowDB shadow(shadowDBPath_);
    PassLock lock(shadowDBPath_);
    shadow.createSchemaIfNeeded();
    passNotes_.clear();
    repairSearchIndexes(shadow, lock.afterUncleanStop());

    // The chats left out: those given, else those the last pass left out.
    const std::set<std::string> excludedBefore = shadow.syncTables().excludedChatKeys();
    std::set<std::string> excluded;
    if (excludedChats_) {
        excluded = *excludedChats_;
    } else {
        for (const StoreChat& chat : chats) {
            if (excludedBefore.count(excludedChatKey(chat.guid)) > 0) {
                excluded.insert(chat.guid);
            }
        }
    }
    reader.setExcludedChats(excluded);

    // Which store the database copies. Another store is refused before
    // anything is written; the same path holding a store made anew (the
    // message at the recorded ROWID is another one, or the store's ROWIDs
    // went back) is copied whole, as if the database were new.
    const std::optional<ShadowDB::SyncSource> recorded = shadow.syncTables().source();
    bool copyWhole = false;
    if (recorded && recorded->anchorRowid > 0) {
        const std::optional<std::string> guidNow = reader.guidAt(recorded->anchorRowid);
        const bool anchorHolds = guidNow && guidNow == recorded->anchorGuid;
        const bool anchorGone = (guidNow && guidNow != recorded->anchorGuid) ||
                                reader.highestMessageRowidEver() < recorded->anchorRowid;
        const bool samePlace = recorded->storePath == source.storePath ||
                               recorded->storePath == resolvedPath(chatDBPath_);
        if (!samePlace && !anchorHolds) {
            throw ShadowSyncError(
                ShadowSyncError::Kind::syncFailed,
                anotherStoreMessage(shadowDBPath_, recorded->storePath, chatDBPath_));
        }
        if (anchorGone) {
            // Another store now stands at the path (or this one was made
            // anew): the copy is made again from it, and what the earlier
            // store held goes, so the two are never mixed.
            copyWhole = true;
            passNotes_.push_back(
                "The messaging store at " + chatDBPath_ + " is not the one last copied (message " +
                std::to_string(recorded->anchorRowid) + " is gone or another), so " +
                shadowDBPath_ + " was emptied and is copied again from it in full.");
        }
    }
    bool sourceStored = recorded == source;

    // Junk copied or left out: when that choice changes, the copy is made
    // again from the start with the new choice.
    ShadowDB::DeletionMarks deletionMarks = shadow.syncTables().deletionMarks();
    const ShadowDB::DeletionMarks storedDeletionMarks = deletionMarks;
    if (copyWhole) {
        deletionMarks = ShadowDB::DeletionMarks{0, 0, 0, deletionMarks.includeJunk, false};
    }
    bool cleared = false;
    if (copyWhole) {
        shadow.clearCopiedMessages();
        cleared = true;
    }
    if (deletionMarks.includeJunk != includeJunk_) {
        if (deletionMarks.storeMaxRowid > 0) {
            shadow.clearCopiedMessages();
            cleared = true;
        }
        deletionMarks.includeJunk = includeJunk_;
    }

    ShadowDB::Watermark cursor = copyWhole ? ShadowDB::Watermark{} : shadow.lastSyncWatermark();
    const ShadowDB::SyncMarks storedMarks = copyWhole ? ShadowDB::SyncMarks{} : shadow.syncMarks();
    ShadowDB::SyncMarks marks = storedMarks;
    // What is left out is counted as rows are read for the first time (new
    // rows after the cursor, rows behind it never read); a pass that reads
    // the store from its start counts it all again.
    const bool cursorAtStart = cursor.timestamp == 0 && cursor.rowid == 0;
    if (cursorAtStart) {
        marks.leftOut = {};
    }
    bool marksStored = true;
    int64_t written = 0;
    int64_t rowsRead = 0;
    // The live message count, read once before the first write and then kept
    // up to date from each batch's growth, instead of counting the whole
    // table after every page (which makes a first sync quadratic).
    std::optional<int64_t> count;
    // Every write of the pass goes through here: the messages, the cursor,
    // the count and the marks in one transaction.
    int64_t removed = 0;
    auto commit = [&](const std::vector<ShadowMessage>& messages,
                      const ShadowDB::PageChanges& changes = {}) {
        if (!count) {
            count = shadow.messageCount();
        }
        ShadowDB::BatchResult batch =
            shadow.commitSyncPage(messages, cursor, *count, marks, source, changes);
        removed += batch.removed;
        written += batch.written;
        *count += batch.countGrowth;
        marksStored = true;
        sourceStored = true;
    };
    auto reportProgress = [&](int64_t rows) {
        rowsRead += rows;
        if (progress && rows > 0) {
            progress(rowsRead);
        }
    };
    // A shadow database without marks (new, or synced before they existed):
    // the sweep below reads every row behind the cursor again with its
    // current chats, so the joins written so far need no separate look.
    const bool freshMarks = storedMarks == ShadowDB::SyncMarks{};

    // Rows read again (the catch-up reads): their reactions and removals are
    // compared with the stored state too, and only what differs is written.
    // `firstRead`: no row of `rows` was read by an earlier pass, so what they
    // leave out is counted; otherwise only stored messages now unsent are.
    auto commitChanged = [&](FetchResult& rows, bool firstRead) {
        takeTextReactions(rows, shadow);
        if (firstRead) {
            marks.leftOut += rows.leftOut;
        }
        // A reaction copied as a message by an older version goes.
        std::vector<std::string> notMessages;
        for (const StoreReaction& reaction : rows.reactions) {
            notMessages.push_back(reaction.guid);
        }
        std::vector<ShadowMessage> changed = messagesToWrite(shadow, rows.messages);
        ShadowDB::PageChanges changes = changesToApply(
            shadow,
            {std::move(rows.reactions), std::move(rows.removedGuids), std::move(notMessages), {}});
        changes.memberships = membershipsToWrite(shadow, rows.messages, changed);
        if (!firstRead) {
            marks.leftOut.unsent += countUnsentCopies(changes.removedGuids, rows.unsentGuids);
        }
        if (!changed.empty() || !changes.reactions.empty() || !changes.removedGuids.empty() ||
            !changes.notMessages.empty() || !changes.memberships.empty()) {
            commit(changed, changes);
            return true;
        }
        return false;
    };

    // Chats left out (see the header): what was copied of them goes first,
    // so that the people met only in them are known; then the members and
    // people are refreshed without them; a chat taken back in is read again.
    {
        ShadowDB::PageChanges leaving;
        for (const std::string& chatId : excluded) {
            for (std::string& guid : shadow.messageTables().guidsInChat(chatId)) {
                leaving.removedGuids.push_back(std::move(guid));
            }
        }
        if (!leaving.removedGuids.empty()) {
            commit({}, leaving);
        }
    }
    std::set<std::string> excludedNow;
    for (const std::string& chatId : excluded) {
        excludedNow.insert(excludedChatKey(chatId));
    }
    {
        const IncludedDirectory included =
            withoutExcluded(excluded, participants, chats, handles, shadow);
        shadow.replaceChatParticipants(included.participants);
        refreshPeople(shadow, included.handles, included.leftOutHandles, included.chats,
                      included.participants);
    }
    const bool exclusionChanged = excludedBefore != excludedNow;
    if (exclusionChanged) {
        for (const StoreChat& chat : chats) {
            if (excluded.count(chat.guid) == 0 &&
                excludedBefore.count(excludedChatKey(chat.guid)) > 0) {
                FetchResult rows =
                    reader.fetchMessagesInChat(chat.guid, cursor.timestamp, cursor.rowid);
                const int64_t rawRows = rows.rawRowCount;
                // Its rows may have been counted before it was left out.
                commitChanged(rows, false);
                reportProgress(rawRows);
            }
        }
        shadow.syncTables().replaceExcludedChatKeys(excludedNow);
    }

    // 0. Deletions (see the header). Rows deleted for good: the store's
    //    deletion log since the last pass, and, when the store's row count
    //    does not add up, every stored guid compared with the store's.
    //    Rows in Recently Deleted: the set compared with the last pass's;
    //    rows that left it and still exist are read again.
    {
        ShadowDB::PageChanges gone;
        const StoreDeletions log = reader.deletionsAfter(deletionMarks.tombstoneRowid);
        // A store made anew is copied whole and the messages copied from the
        // old one stay: its log says nothing about them.
        if (!copyWhole) {
            gone.removedGuids = log.tombstoneGuids;
        }
        const int64_t storeRows = reader.totalMessageCount();
        if (deletionMarks.storeMaxRowid > 0) {
            const int64_t added =
                storeMaxRowid > deletionMarks.storeMaxRowid
                    ? reader.countRowsBetween(deletionMarks.storeMaxRowid, storeMaxRowid)
                    : 0;
            const int64_t expected =
                deletionMarks.storeRows + added - static_cast<int64_t>(log.tombstoneGuids.size());
            if (expected != storeRows) {
                std::vector<std::string> present = reader.allGuids();
                std::sort(present.begin(), present.end());
                for (const std::string& guid : storedGuids(shadow)) {
                    if (!std::binary_search(present.begin(), present.end(),
                                            std::string(storeGuidOf(guid)))) {
                        gone.removedGuids.push_back(guid);
                    }
                }
            }
        }
        const auto inRecentlyDeleted = reader.recentlyDeleted();
        const auto wasInRecentlyDeleted =
            copyWhole ? inRecentlyDeleted : shadow.syncTables().recentlyDeletedRows();
        std::vector<ShadowMessage> restored;
        if (inRecentlyDeleted != wasInRecentlyDeleted) {
            const std::set<std::pair<int64_t, std::string>> now(inRecentlyDeleted.begin(),
                                                                inRecentlyDeleted.end());
            const std::set<std::pair<int64_t, std::string>> before(wasInRecentlyDeleted.begin(),
                                                                   wasInRecentlyDeleted.end());
            for (const auto& row : now) {
                if (!before.count(row)) {
                    gone.removedGuids.push_back(row.second);
                }
            }
            for (const auto& row : before) {
                if (!now.count(row)) {
                    FetchResult back = reader.fetchMessageAt(row.first);
                    takeTextReactions(back, shadow);
                    for (ShadowMessage& message : back.messages) {
                        restored.push_back(std::move(message));
                    }
                }
            }
            shadow.syncTables().replaceRecentlyDeletedRows(inRecentlyDeleted);
        }
        gone = changesToApply(shadow, gone);
        if (!gone.removedGuids.empty() || !restored.empty()) {
            std::vector<ShadowMessage> back = messagesToWrite(shadow, restored);
            gone.memberships = membershipsToWrite(shadow, restored, back);
            commit(back, gone);
        }
        deletionMarks.tombstoneRowid = log.lastTombstoneRowid;
        deletionMarks.storeRows = storeRows;
        deletionMarks.storeMaxRowid = storeMaxRowid;
    }

    // 1. Rows the cursor has passed that were never read: ROWIDs above the
    //    mark lying behind the cursor (messages restored with their old
    //    dates). Each chunk covers kBatchSize message rows.
    //    Nothing real lies behind the starting cursor (0, 0) (the store's
    //    dates are positive), so a first pass skips the sweep.
    for (int64_t from = cursorAtStart ? storeMaxRowid : marks.messageRowid; from < storeMaxRowid;) {
        const int64_t to =
            std::min(storeMaxRowid, reader.nthRowidAfter(from, kBatchSize).value_or(storeMaxRowid));
        FetchResult rows =
            reader.fetchMessagesByRowidBehindCursor(from, to, cursor.timestamp, cursor.rowid);
        marks.messageRowid = to;
        marksStored = false;
        const int64_t rawRows = rows.rawRowCount;
        commitChanged(rows, true);
        reportProgress(rawRows);
        from = to;
    }
    if (marks.messageRowid < storeMaxRowid) {
        marks.messageRowid = storeMaxRowid; // nothing to sweep, but never step back
    }

    // 2. Chats joined after their message was read: join rows above the join
    //    mark whose message lies behind the cursor. Should the store have
    //    deleted the join row at the mark and given its rowid to a new join,
    //    the rows just below the mark are looked at again.
    int64_t joinFrom = freshMarks ? storeMaxJoin : marks.joinRowid;
    if (!freshMarks && marks.joinRowid > 0) {
        const auto atMark = reader.joinAt(marks.joinRowid);
        if (!atMark || !(*atMark == ChatDBReader::JoinRow{marks.joinMessageId, marks.joinChatId})) {
            joinFrom =
                std::max<int64_t>(0, std::min(marks.joinRowid, storeMaxJoin) - kJoinRecheckWindow);
        }
    }
    for (int64_t from = joinFrom; from < storeMaxJoin;) {
        const int64_t to = std::min(storeMaxJoin, from + kBatchSize);
        FetchResult rows =
            reader.fetchMessagesJoinedBetween(from, to, cursor.timestamp, cursor.rowid);
        const int64_t rawRows = rows.rawRowCount;
        commitChanged(rows, false);
        reportProgress(rawRows);
        from = to;
    }
    if (marks.joinRowid != storeMaxJoin || joinFrom != marks.joinRowid) {
        const auto atMax = storeMaxJoin > 0 ? reader.joinAt(storeMaxJoin) : std::nullopt;
        marks.joinRowid = storeMaxJoin;
        marks.joinMessageId = atMax ? atMax->messageId : 0;
        marks.joinChatId = atMax ? atMax->chatId : 0;
        marksStored = false;
    }

    // 2b. A database copied before every chat of a message was kept: the
    //     store's messages in several chats are read once for their other
    //     chats (the upgrade filled in each message's own chat).
    if (!shadow.syncTables().membershipsComplete()) {
        FetchResult rows = reader.fetchMessagesInSeveralChats(cursor.timestamp, cursor.rowid);
        const int64_t rawRows = rows.rawRowCount;
        commitChanged(rows, false);
        reportProgress(rawRows);
        shadow.syncTables().markMembershipsComplete();
    }

    // 3. New rows after the (date, ROWID) cursor, in pages, committed
    //    kPagesPerTransaction at a time.
    std::optional<ShadowDB::PageGroup> group;
    for (int pages = 0;; ++pages) {
        if (pages % kPagesPerTransaction == 0) {
            if (group) {
                group->commit();
            }
            group.emplace(shadow);
        }
        FetchResult page = reader.fetchMessages(cursor.timestamp, cursor.rowid, kBatchSize);
        if (page.rawRowCount < 1) {
            break;
        }
        cursor.timestamp = page.lastRawTimestamp;
        cursor.rowid = page.lastRawRowid;
        // A full page can end inside the rows of a message in several chats
        // (one row per chat); the cursor then passes its other chats, which
        // are read here.
        if (page.rawRowCount >= kBatchSize) {
            FetchResult last = reader.fetchMessageAt(page.lastRawRowid);
            std::erase_if(page.messages, [&](const ShadowMessage& row) {
                return std::find(last.excludedGuids.begin(), last.excludedGuids.end(),
                                 row.guid()) != last.excludedGuids.end();
            });
            for (ShadowMessage& message : last.messages) {
                const bool inPage = std::any_of(
                    page.messages.begin(), page.messages.end(), [&](const ShadowMessage& row) {
                        return row.guid() == message.guid() && row.chatId() == message.chatId();
                    });
                if (!inPage) {
                    page.messages.push_back(std::move(message));
                }
            }
        }
        if (deletionMarks.rereadAll) {
            const int64_t rawRows = page.rawRowCount;
            if (!commitChanged(page, true)) {
                commit({}); // the cursor moves on even when nothing differed
            }
            reportProgress(rawRows);
            if (rawRows < kBatchSize) {
                break;
            }
            continue;
        }
        takeTextReactions(page, shadow);
        marks.leftOut += page.leftOut;
        commit(page.messages, {std::move(page.reactions), std::move(page.removedGuids), {}, {}});
        reportProgress(page.rawRowCount);
        if (page.rawRowCount < kBatchSize) {
            break;
        }
    }
    group->commit();

    // 4. Text that arrived or changed after its row was read (a body written
    //    after the row, an edit): the newest rows behind the cursor are read
    //    again and the ones that differ from their stored copy written.
    {
        FetchResult rows =
            reader.fetchNewestMessagesBehindCursor(kRecheckWindow, cursor.timestamp, cursor.rowid);
        commitChanged(rows, false);
    }

    // 5. Rows whose date the cursor cannot order (text, NULL, zero or
    //    negative, out of range): read every pass, written when changed.
    {
        FetchResult rows = reader.fetchMessagesWithOddDates();
        commitChanged(rows, false);
    }

    if ((!marksStored && !(marks == storedMarks)) || !sourceStored) {
        commit({});
    }
    deletionMarks.rereadAll = false;
    if (!(deletionMarks == storedDeletionMarks)) {
        shadow.syncTables().storeDeletionMarks(deletionMarks);
    }
    // The removed messages' words leave the file and its WAL.
    if (removed > 0 || cleared || exclusionChanged) {
        shadow.purgeDeletedContent();
    }
    return written;
}

int64_t ShadowSync::messageCount() const {
    return ShadowDBReader(shadowDBPath_).messageCount();
}

} // namespace orlune::core
