#include "shadow/ShadowDB.hpp"

#include "shadow/ShadowBatchTable.hpp"
#include "sql/StoreConnection.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orlune::core {

namespace {

// Runs `sql`, trying again while another connection holds a lock it needs,
// for up to the busy timeout. Switching a new file to WAL can meet a lock
// (another sync making the same file at the same moment) without SQLite
// calling the busy handler.
void execWaitingForLocks(sqlite3* db, std::string_view sql) {
    const auto giveUp = std::chrono::steady_clock::now() + ShadowDBReader::kBusyTimeout;
    for (;;) {
        try {
            sqlite::exec(db, sql);
            return;
        } catch (const sqlite::Error& error) {
            const bool locked =
                error.primaryCode() == SQLITE_BUSY || error.primaryCode() == SQLITE_LOCKED;
            if (!locked || std::chrono::steady_clock::now() >= giveUp) {
                throw;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

constexpr std::string_view kSecureDelete = "PRAGMA secure_delete = ON";

constexpr const char* kSidecars[] = {"-wal", "-shm"};

// Creates an empty file at `path` readable and writable by its owner only
// (SQLite would create it with the umask's mode, and its -wal and -shm files
// take the database file's mode). A file that appeared meanwhile is left
// alone; any other failure is left for SQLite's open to report.
void createOwnerOnlyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

// Why a writer cannot use the database at `path`: its folder does not exist
// or refuses new files (SQLite makes the -wal and -shm files beside the
// database), or the file itself is read-only. SQLite would say only "unable
// to open database file" or "attempt to write a readonly database".
std::optional<std::string> writeProblem(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    const std::string folder = parent.empty() ? "." : parent;
    const std::string elsewhere = ", or set SHADOW_DB_PATH to a file in a folder you can write";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        const std::string cause = std::strerror(errno);
        if (errno == ENOENT) {
            return "the folder " + folder + " of the shadow database " + path +
                   " does not exist (" + cause + "): create it" + elsewhere;
        }
        return "the shadow database " + path + " cannot be written: its folder " + folder +
               " does not let Orlune make files in it (" + cause +
               "), and the database needs its -wal and -shm files beside it. Make the folder "
               "writable for you (chmod u+w " +
               folder + ")" + elsewhere;
    }
    if (!pathIsMissing(path) && ::access(path.c_str(), W_OK) != 0) {
        return "the shadow database " + path + " cannot be written (" + std::strerror(errno) +
               "). Make it writable for you (chmod u+w " + path + ")" + elsewhere;
    }
    return std::nullopt;
}

// Takes group and other permissions off the database file and its -wal and
// -shm files (a database made by an older version under a loose umask).
void makeOwnerOnly(const std::string& path) {
    for (const std::string& file : {path, path + kSidecars[0], path + kSidecars[1]}) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            ::chmod(file.c_str(), info.st_mode & S_IRWXU);
        }
    }
}

// Moves the database at `oldPath` to `target` when nothing is at `target`.
// The WAL is folded into the file first so that one rename moves the whole
// database. Leaves everything where it is when the old file is in use (its
// WAL cannot be emptied, or another connection keeps it), is not a shadow
// database, or `target` has -wal/-shm files of its own. Returns why it was
// not moved, or "" (also when there is nothing to move).
std::string adoptOldDatabase(const std::string& oldPath, const std::string& target) {
    if (pathIsMissing(oldPath) || !pathIsMissing(target) || fileProblem(oldPath)) {
        return {};
    }
    for (const char* sidecar : kSidecars) {
        if (!pathIsMissing(target + sidecar)) {
            return target + sidecar + " exists without its database";
        }
    }
    {
        sqlite::Connection old;
        if (old.open(fileUri(oldPath, ""), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI) != SQLITE_OK) {
            return old.errorMessage();
        }
        sqlite3_busy_timeout(old.get(), static_cast<int>(ShadowDBReader::kBusyTimeout.count()));
        try {
            ShadowSchema::checkCompatible(old.get(), oldPath);
        } catch (const ShadowDBError& error) {
            return error.what();
        }
        if (sqlite3_wal_checkpoint_v2(old.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                      nullptr) != SQLITE_OK) {
            return old.errorMessage();
        }
    }
    // Closing the last connection removes the -wal; one still there belongs
    // to a connection of another process.
    if (!pathIsMissing(oldPath + kSidecars[0])) {
        return oldPath + " is in use";
    }
    if (std::rename(oldPath.c_str(), target.c_str()) != 0) {
        return std::strerror(errno);
    }
    ::unlink((oldPath + kSidecars[1]).c_str());
    makeOwnerOnly(target);
    return {};
}

} // namespace

std::string ShadowDB::shadowDBPath(const Environment& environment) {
    if (auto path = environment.variable(kPathVariable)) {
        return *path;
    }
    return joinPath(joinPath(environment.applicationSupportDirectory(), kFolder), kFileName);
}

std::optional<std::string> ShadowDB::prepareShadowFolder(const Environment& environment) {
    if (environment.variable(kPathVariable)) {
        return std::nullopt;
    }
    const std::string dataFolder = environment.applicationSupportDirectory();
    const std::string folder = joinPath(dataFolder, kFolder);
    if (const std::error_code error = createPrivateFolders(folder)) {
        return "Could not create the folder " + folder + ": " + error.message();
    }
    const std::string oldPath = joinPath(joinPath(dataFolder, kOldFolder), kFileName);
    const std::string path = joinPath(folder, kFileName);
    const std::string failure = adoptOldDatabase(oldPath, path);
    if (failure.empty()) {
        return std::nullopt;
    }
    return "The shadow database an older version left at " + oldPath + " could not be moved to " +
           path + " (" + failure +
           "); nothing was changed. Close the program using it, or move "
           "or delete it, then try again.";
}

namespace {

std::string openedPath(const std::optional<std::string>& path, const Environment& environment) {
    if (path) {
        return *path;
    }
    if (auto problem = ShadowDB::prepareShadowFolder(environment)) {
        throw ShadowDBError(ShadowDBError::Kind::failedToOpen, *problem);
    }
    return ShadowDB::shadowDBPath(environment);
}

} // namespace

ShadowDB::ShadowDB(const std::optional<std::string>& path, const Environment& environment)
    : ShadowDBReader(Unopened{}, openedPath(path, environment)) {
    const std::string& file = databasePath();
    if (auto problem = fileProblem(file)) {
        throw Error(Error::Kind::failedToOpen, *problem);
    }
    if (auto problem = writeProblem(file)) {
        throw Error(Error::Kind::failedToOpen, *problem);
    }
    if (pathIsMissing(file)) {
        createOwnerOnlyFile(file);
    }
    // Refuses a file of another program or of a newer version untouched.
    connection_.open("", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    makeOwnerOnly(file);
    connection_.guarded([&] {
        for (std::string_view pragma : shadow_schema::kOpenPragmas) {
            execWaitingForLocks(handle(), pragma);
        }
    });
    // Deleted rows leave no bytes behind in the file: freed cells and pages
    // are zeroed (deleted messages must not be readable from the file).
    connection_.guarded([&] { sqlite::exec(handle(), kSecureDelete); });
    if (ShadowBatchTable::registerModule(handle()) != SQLITE_OK) {
        throw Error(Error::Kind::failedToOpen, connection_.db().errorMessage());
    }
}

ShadowDB::~ShadowDB() = default;

void ShadowDB::createSchemaIfNeeded() {
    connection_.guarded([&] { ShadowSchema::migrate(handle()); });
}

int ShadowDB::insertBatch(const std::vector<ShadowMessage>& messages) {
    return messages_.write(messages, false).written;
}

ShadowDB::BatchResult ShadowDB::commitSyncPage(const std::vector<ShadowMessage>& messages,
                                               const Watermark& cursor, int64_t countBefore,
                                               const SyncMarks& marks, const SyncSource& source,
                                               const PageChanges& changes) {
    int64_t removed = 0;
    const ShadowMessageTables::WriteResult written =
        messages_.write(messages, true, [&](const ShadowMessageTables::WriteResult& batch) {
            reactionsAndAttachments_.writeAttachments(messages);
            removed = applyPageChanges(changes);
            sync_.storeState(cursor.timestamp, cursor.rowid,
                             countBefore + batch.countGrowth - removed);
            sync_.storeMarks(marks);
            sync_.storeSource(source);
        });
    return BatchResult{written.written, written.countGrowth - removed, removed};
}

ShadowDB::PageGroup::PageGroup(ShadowDB& shadow) : shadow_(shadow) {
    shadow_.connection_.guarded([&] { transaction_.emplace(shadow_.handle()); });
}

ShadowDB::PageGroup::~PageGroup() {
    if (!transaction_) {
        return;
    }
    try {
        transaction_->commit();
    } catch (const sqlite::Error&) {
        // Rolled back by the failed commit: the pages are read again.
    }
}

void ShadowDB::PageGroup::commit() {
    shadow_.connection_.guarded([&] {
        try {
            transaction_->commit();
        } catch (const sqlite::Error&) {
            transaction_.reset(); // already rolled back
            throw;
        }
        transaction_.reset();
    });
}

int64_t ShadowDB::applyPageChanges(const PageChanges& changes) {
    reactionsAndAttachments_.apply(changes.reactions);
    messages_.replaceChats(changes.memberships);
    int64_t removed = messages_.remove(changes.notMessages);
    removed += messages_.remove(changes.removedGuids);
    reactionsAndAttachments_.removeMentioning(changes.removedGuids);
    return removed;
}

bool ShadowDB::purgeDeletedContent() {
    searchIndex_.mergeSegments();
    int logFrames = 0;
    int checkpointed = 0;
    const int rc = sqlite3_wal_checkpoint_v2(handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                             &logFrames, &checkpointed);
    return rc == SQLITE_OK;
}

void ShadowDB::clearCopiedMessages() {
    connection_.guarded([&] {
        sqlite::Transaction transaction(handle());
        reactionsAndAttachments_.clear();
        messages_.clear();
        sync_.resetCursor();
        transaction.commit();
    });
}

void ShadowDB::updateSyncState(int64_t lastTimestamp, int64_t lastRowid, int64_t messageCount) {
    sync_.storeState(lastTimestamp, lastRowid, messageCount);
}

void ShadowDB::replaceChatParticipants(const std::vector<ChatParticipant>& participants) {
    people_.replaceParticipants(participants);
}

void ShadowDB::replacePeople(const PeopleTables& tables, const std::string& fingerprint) {
    people_.replace(tables, fingerprint);
}

} // namespace orlune::core
