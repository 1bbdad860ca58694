#include "models/FullDiskAccessViewModel.hpp"

#include "services/FullDiskAccessChecker.hpp"
#include "sql/SQLite.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace orlune::rlm {
namespace {

using testing::eventNames;
using testing::eventsNamed;
using testing::RlmTestFolder;
using testing::ScopedEnv;
using testing::SignalRecorder;
using testing::writeFile;

// An empty messaging store with the real tables.
void makeDatabase(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    samplestore::ChatStoreWriter store(path);
}

// An SQLite file that is not a messaging store.
void makeOtherDatabase(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    core::sqlite::Connection db;
    ASSERT_EQ(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    ASSERT_NO_THROW(core::sqlite::exec(db.get(), "CREATE TABLE notes (body TEXT)"));
}

class FullDiskAccessTest : public ::testing::Test {
protected:
    FullDiskAccessTest() : chatDBPath_("CHAT_DB_PATH", std::nullopt) { testing::coreApplication(); }

    // Where the store is when CHAT_DB_PATH is not set.
    std::string homeStore() const { return folder.file("Library/Messages/chat.db"); }

    FullDiskAccessViewModel::Seams seams() {
        FullDiskAccessViewModel::Seams seams;
        seams.urlOpener = [this](const QUrl& url) {
            opened.push_back(url.toString().toStdString());
            return opens-- > 0 ? false : true;
        };
        seams.logger = folder.logger("full-disk-access");
        return seams;
    }

    RlmTestFolder folder;
    ScopedEnv chatDBPath_;
    std::vector<std::string> opened;
    int opens = 0; // how many addresses fail before one opens (with the seam above)
};

TEST(FullDiskAccessCheckerTest, TestsTheStoreTheReaderOpens) {
    using Folder = const RlmTestFolder&;
    const auto home = [](Folder f) { return f.file("Library/Messages/chat.db"); };
    const auto elsewhere = [](Folder f) { return f.file("elsewhere/chat.db"); };
    const struct {
        const char* name;
        std::function<void(Folder)> prepare;
        std::function<std::optional<std::string>(Folder)> chatDBPathVariable;
        std::function<std::string(Folder)> testedPath;
        bool hasAccess;
        std::string errorMessage; // empty when there is none
        std::string event;
    } cases[] = {
        {"no store", [](Folder) {}, {}, home, false, "chat.db not found", "fda_chat_db_missing"},
        {"readable store",
         [&](Folder f) { makeDatabase(home(f)); },
         {},
         home,
         true,
         "",
         "fda_chat_db_open_ok"},
        // Tests run as root, which file modes do not stop; a folder cannot be
        // opened as a database by anyone (SQLite reports an I/O error for it
        // on Linux).
        {"a folder where the store should be",
         [&](Folder f) { std::filesystem::create_directories(home(f)); },
         {},
         home,
         false,
         "(SQLite's text for the code)",
         "fda_chat_db_open_failed"},
        // The check reads as the sync does: a file it could not sync from is
        // no access.
        {"a file that is not a database",
         [&](Folder f) {
             std::filesystem::create_directories(std::filesystem::path(home(f)).parent_path());
             testing::writeFile(home(f), std::string(4096, 'x'));
         },
         {},
         home,
         false,
         "(SQLite's text for the code)",
         "fda_chat_db_open_failed"},
        {"a database without messages",
         [&](Folder f) { makeOtherDatabase(home(f)); },
         {},
         home,
         false,
         "no such table: message",
         "fda_chat_db_read_failed"},
        {"CHAT_DB_PATH names the store the sync reads",
         [&](Folder f) { makeDatabase(elsewhere(f)); }, elsewhere, elsewhere, true, "",
         "fda_chat_db_open_ok"},
        {"CHAT_DB_PATH names a missing store beside a readable home store",
         [&](Folder f) { makeDatabase(home(f)); }, elsewhere, elsewhere, false, "chat.db not found",
         "fda_chat_db_missing"},
        {"CHAT_DB_PATH set but empty", [&](Folder f) { makeDatabase(home(f)); },
         [](Folder) { return std::optional<std::string>(""); },
         [](Folder) { return std::string(); }, false, "chat.db not found", "fda_chat_db_missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder folder; // HOME points into it
        ScopedEnv variable("CHAT_DB_PATH",
                           c.chatDBPathVariable ? c.chatDBPathVariable(folder) : std::nullopt);
        c.prepare(folder);
        const std::string path = c.testedPath(folder);
        EXPECT_EQ(FullDiskAccessChecker::chatDatabasePath(), path);

        const FullDiskAccessResult result =
            FullDiskAccessChecker::checkChatDatabaseAccess(folder.logger("full-disk-access"));

        const auto entries = folder.loggedEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0]["message"], c.event);
        EXPECT_EQ(entries[0]["level"], c.hasAccess ? "info" : "warning");
        EXPECT_EQ(entries[0]["path"], path);
        EXPECT_FALSE(result.accessDenied);
        if (c.event == "fda_chat_db_open_failed") {
            const int code = std::stoi(entries[0]["sqlite_code"].get<std::string>());
            EXPECT_NE(code, SQLITE_OK);
            EXPECT_EQ(entries[0]["sqlite_code"], std::to_string(code)) << "plain decimal";
            EXPECT_FALSE(result.hasAccess);
            EXPECT_EQ(result.errorMessage, std::string(sqlite3_errstr(code)));
            EXPECT_EQ(entries[0]["sqlite_error"], sqlite3_errstr(code));
        } else if (c.event == "fda_chat_db_read_failed") {
            EXPECT_FALSE(result.hasAccess);
            EXPECT_EQ(result.errorMessage, c.errorMessage);
            EXPECT_EQ(entries[0]["sqlite_error"], c.errorMessage);
            EXPECT_EQ(entries[0]["sqlite_code"], std::to_string(SQLITE_ERROR));
        } else {
            EXPECT_EQ(result.hasAccess, c.hasAccess);
            EXPECT_EQ(result.errorMessage.value_or(""), c.errorMessage);
            EXPECT_EQ(result.hasAccess, !result.errorMessage.has_value());
            EXPECT_FALSE(entries[0].contains("sqlite_code"));
        }
        if (c.event == "fda_chat_db_missing" && !path.empty()) {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path).parent_path()))
                << "the check made a folder";
        }
    }
}

// The system's refusals, which only the Mac's privacy protection (or an
// unprivileged user) produces, injected where the check meets the store.
TEST(FullDiskAccessCheckerTest, TheSystemsRefusalIsNoAccessAndSaysSo) {
    using Access = FullDiskAccessChecker::StoreAccess;
    // Opens a real, readable store but refuses every read of its messages,
    // as SQLite does when the privacy protection stops a read.
    const auto refusingReads = [](const std::string& path, core::StoreOpenFailure& failure) {
        core::sqlite::Connection connection = core::openStoreReadOnly(path, failure);
        sqlite3_set_authorizer(
            connection.get(),
            [](void*, int action, const char* table, const char*, const char*, const char*) {
                return action == SQLITE_READ && table != nullptr && std::string(table) == "message"
                           ? SQLITE_DENY
                           : SQLITE_OK;
            },
            nullptr);
        return connection;
    };
    const auto openFailing = [](int code, int systemErrno) {
        return [code, systemErrno](const std::string&, core::StoreOpenFailure& failure) {
            failure.code = code;
            failure.systemErrno = systemErrno;
            failure.accessDenied = core::isAccessDenial(code, systemErrno);
            failure.message = "refused";
            return core::sqlite::Connection();
        };
    };
    const struct {
        const char* name;
        int statError;
        std::function<core::sqlite::Connection(const std::string&, core::StoreOpenFailure&)> open;
        std::string reason;
        std::string detailKey;
        std::string detail;
    } cases[] = {
        {"stat refused by the privacy protection",
         EPERM,
         {},
         std::strerror(EPERM),
         "errno",
         std::to_string(EPERM)},
        {"stat refused by file modes",
         EACCES,
         {},
         std::strerror(EACCES),
         "errno",
         std::to_string(EACCES)},
        {"open refused: authorization", 0, openFailing(SQLITE_AUTH, 0), sqlite3_errstr(SQLITE_AUTH),
         "sqlite_code", std::to_string(SQLITE_AUTH)},
        {"open refused: cannot open, EPERM", 0, openFailing(SQLITE_CANTOPEN, EPERM),
         sqlite3_errstr(SQLITE_CANTOPEN), "sqlite_code", std::to_string(SQLITE_CANTOPEN)},
        {"open refused: permission", 0, openFailing(SQLITE_PERM, 0), sqlite3_errstr(SQLITE_PERM),
         "sqlite_code", std::to_string(SQLITE_PERM)},
        {"read refused", 0, refusingReads, "access to message.ROWID is prohibited", "sqlite_code",
         std::to_string(SQLITE_AUTH)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder folder;
        ScopedEnv noVariable("CHAT_DB_PATH", std::nullopt);
        const std::string path = folder.file("Library/Messages/chat.db");
        makeDatabase(path);
        Access access = Access::system();
        access.statError = [&c](const std::string&) { return c.statError; };
        if (c.open) {
            access.open = c.open;
        }

        const FullDiskAccessResult result = FullDiskAccessChecker::checkChatDatabaseAccess(
            folder.logger("full-disk-access"), core::Environment::process(), access);

        EXPECT_FALSE(result.hasAccess);
        EXPECT_TRUE(result.accessDenied);
        EXPECT_EQ(result.errorMessage, c.reason + ": " + FullDiskAccessChecker::kRefusedMessage);
        const auto entries = folder.loggedEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0]["message"], "fda_chat_db_denied");
        EXPECT_EQ(entries[0]["level"], "warning");
        EXPECT_EQ(entries[0]["path"], path);
        EXPECT_EQ(entries[0]["error"], c.reason);
        EXPECT_EQ(entries[0][c.detailKey], c.detail);
    }
}

TEST_F(FullDiskAccessTest, RefreshPublishesEachOutcomeAndClearsAnEarlierError) {
    FullDiskAccessViewModel model(seams());
    EXPECT_FALSE(model.hasAccess());
    EXPECT_TRUE(model.lastError().isEmpty());
    EXPECT_TRUE(folder.loggedEntries().empty()) << "the constructor tests nothing";
    SignalRecorder changes;
    changes.watch(&model, &FullDiskAccessViewModel::hasAccessChanged, "hasAccess");
    changes.watch(&model, &FullDiskAccessViewModel::lastErrorChanged, "lastError");

    model.refresh();
    EXPECT_FALSE(model.hasAccess());
    EXPECT_EQ(model.lastError(), "chat.db not found");
    EXPECT_EQ(changes.take(), std::vector<std::string>{"lastError"});

    makeDatabase(homeStore());
    model.refresh();
    EXPECT_TRUE(model.hasAccess());
    EXPECT_TRUE(model.lastError().isEmpty());
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"hasAccess", "lastError"}));

    std::filesystem::remove(homeStore());
    std::filesystem::create_directories(homeStore());
    model.refresh();
    EXPECT_FALSE(model.hasAccess());
    const auto failed = eventsNamed(folder, "fda_chat_db_open_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(model.lastError().toStdString(), failed[0]["sqlite_error"]);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"hasAccess", "lastError"}));

    EXPECT_EQ(eventNames(folder),
              (std::vector<std::string>{"fda_chat_db_missing", "fda_chat_db_open_ok",
                                        "fda_chat_db_open_failed"}));
    EXPECT_TRUE(opened.empty());
}

TEST_F(FullDiskAccessTest, OpeningTheSettingsOffersTheOtherAddressInsteadOfChaining) {
    const std::vector<std::string> all(FullDiskAccessViewModel::kSettingsAddresses.begin(),
                                       FullDiskAccessViewModel::kSettingsAddresses.end());
    ASSERT_EQ(all[0], "x-apple.systempreferences:"
                      "com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles");
    ASSERT_EQ(all[1], "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
    const struct {
        const char* name;
        int declinedFirst; // addresses the opener declines before accepting one
        std::vector<std::string> tried;
        std::vector<std::string> events;
        bool otherOffered;
    } cases[] = {
        {"the first is accepted", 0, {all[0]}, {"fda_open_settings"}, true},
        {"the first is declined", 1, {all[0], all[1]}, {"fda_open_settings"}, false},
        {"both are declined", 2, {all[0], all[1]}, {"fda_open_settings_failed"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder caseFolder;
        opened.clear();
        opens = c.declinedFirst;
        auto caseSeams = seams();
        caseSeams.logger = caseFolder.logger("full-disk-access");
        FullDiskAccessViewModel model(caseSeams);
        SignalRecorder changes;
        changes.watch(&model, &FullDiskAccessViewModel::hasAccessChanged, "hasAccess");
        changes.watch(&model, &FullDiskAccessViewModel::lastErrorChanged, "lastError");
        changes.watch(&model, &FullDiskAccessViewModel::canOpenOtherSettingsAddressChanged,
                      "canOpenOther");
        EXPECT_FALSE(model.canOpenOtherSettingsAddress());

        model.openSettings();

        EXPECT_EQ(opened, c.tried);
        EXPECT_EQ(eventNames(caseFolder), c.events);
        const auto entries = caseFolder.loggedEntries();
        if (c.events[0] == "fda_open_settings") {
            EXPECT_EQ(entries[0]["level"], "info");
            EXPECT_EQ(entries[0]["url"], c.tried.back());
        } else {
            EXPECT_EQ(entries[0]["level"], "warning");
            EXPECT_EQ(entries[0].size(), 5u) << "no metadata";
        }
        EXPECT_EQ(model.canOpenOtherSettingsAddress(), c.otherOffered);
        EXPECT_EQ(changes.take(), c.otherOffered ? std::vector<std::string>{"canOpenOther"}
                                                 : std::vector<std::string>{});
        EXPECT_FALSE(model.hasAccess());
    }
}

TEST_F(FullDiskAccessTest, TheOtherAddressOpensOnlyWhenAskedAndOpeningAgainStartsOver) {
    FullDiskAccessViewModel model(seams());
    model.openOtherSettingsAddress();
    EXPECT_TRUE(opened.empty()) << "nothing opened yet, so no other address";

    model.openSettings();
    ASSERT_TRUE(model.canOpenOtherSettingsAddress());
    model.openOtherSettingsAddress();
    EXPECT_FALSE(model.canOpenOtherSettingsAddress());
    model.openOtherSettingsAddress();
    model.openSettings();
    EXPECT_EQ(opened, (std::vector<std::string>{FullDiskAccessViewModel::kSettingsAddresses[0],
                                                FullDiskAccessViewModel::kSettingsAddresses[1],
                                                FullDiskAccessViewModel::kSettingsAddresses[0]}));
    EXPECT_TRUE(model.canOpenOtherSettingsAddress());
    EXPECT_EQ(eventsNamed(folder, "fda_open_settings").size(), 3u);
}

TEST_F(FullDiskAccessTest, WithoutAnOpenerNothingOpensAndNothingChanges) {
    FullDiskAccessViewModel::Seams noOpener;
    noOpener.logger = folder.logger("full-disk-access");
    FullDiskAccessViewModel model(noOpener);
    model.refresh();
    const QString error = model.lastError();

    model.openSettings();

    EXPECT_EQ(eventNames(folder),
              (std::vector<std::string>{"fda_chat_db_missing", "fda_open_settings_failed"}));
    EXPECT_FALSE(model.hasAccess());
    EXPECT_EQ(model.lastError(), error);

    // An opener installed by the application serves models made afterwards.
    std::vector<std::string> installed;
    FullDiskAccessViewModel::setDefaultUrlOpener([&](const QUrl& url) {
        installed.push_back(url.toString().toStdString());
        return true;
    });
    FullDiskAccessViewModel later(noOpener);
    later.openSettings();
    FullDiskAccessViewModel::setDefaultUrlOpener({});
    EXPECT_EQ(installed, std::vector<std::string>{FullDiskAccessViewModel::kSettingsAddresses[0]});
}

} // namespace
} // namespace orlune::rlm
