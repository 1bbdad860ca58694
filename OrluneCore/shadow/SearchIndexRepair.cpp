#include "shadow/SearchIndexRepair.hpp"

#include <array>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::core {

namespace {

// Every full-text index a shadow database may have; the older versions lack
// the later ones.
constexpr std::array<const char*, 3> kIndexes = {"messages_fts", "attachment_names_fts",
                                                 "spaced_fts"};

} // namespace

std::string SearchIndexRepair::markPath(const std::string& databasePath) {
    return databasePath + "-reindex";
}

bool SearchIndexRepair::pending(const std::string& databasePath) {
    struct stat status {};
    return ::lstat(markPath(databasePath).c_str(), &status) == 0;
}

void SearchIndexRepair::request(const std::string& databasePath) noexcept {
    const int fd =
        ::open(markPath(databasePath).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

std::string SearchIndexRepair::pendingMessage(const std::string& databasePath) {
    return "The search index of " + databasePath +
           " was found damaged and is being repaired: the next sync rebuilds it (run `orlune "
           "sync`, or wait for the app's next sync), then search again.";
}

std::string SearchIndexRepair::damageMessage(const std::string& databasePath) {
    return "the search index of " + databasePath +
           " is damaged; the next sync rebuilds it (run `orlune sync`), then search again";
}

std::vector<std::string> SearchIndexRepair::damagedIndexes() {
    std::vector<std::string> damaged;
    for (const char* index : kIndexes) {
        if (!connection_.hasTable(index)) {
            continue;
        }
        try {
            connection_.db().exec(std::string("INSERT INTO ") + index + "(" + index +
                                  ") VALUES ('integrity-check')");
        } catch (const sqlite::Error& error) {
            if (!error.isDamage()) {
                throw ShadowDBError::fromSQLite(error, connection_.path());
            }
            damaged.emplace_back(index);
        }
    }
    return damaged;
}

bool SearchIndexRepair::onlyIndexesDamaged() noexcept {
    try {
        sqlite::Statement check = connection_.db().prepare("PRAGMA quick_check(1)");
        return check.step() && check.columnText(0) == "ok";
    } catch (const sqlite::Error&) {
        return false;
    }
}

void SearchIndexRepair::rebuild(const std::vector<std::string>& indexes) {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle(), sqlite::Transaction::Mode::immediate);
        for (const std::string& index : indexes) {
            connection_.db().exec("INSERT INTO " + index + "(" + index + ") VALUES ('rebuild')");
        }
        transaction.commit();
    });
    clearMark();
}

void SearchIndexRepair::clearMark() {
    ::unlink(markPath(connection_.path()).c_str());
}

} // namespace orlune::core
