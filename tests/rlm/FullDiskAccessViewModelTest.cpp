#include "OrluneRLM/FullDiskAccessViewModel.hpp"

#include "OrluneCore/SQLite.hpp"
#include "OrluneRLM/FullDiskAccessChecker.hpp"
#include "tests/rlm/ModelTestSupport.hpp"

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

void makeDatabase(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    core::sqlite::Connection db;
    ASSERT_EQ(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    ASSERT_NO_THROW(
        core::sqlite::exec(db.get(), "CREATE TABLE message (ROWID INTEGER PRIMARY KEY)"));
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
        // on Linux). A file that is not a database does open: SQLite reads
        // nothing at open, and neither does the check.
        {"a folder where the store should be",
         [&](Folder f) { std::filesystem::create_directories(home(f)); },
         {},
         home,
         false,
         "(SQLite's text for the code)",
         "fda_chat_db_open_failed"},
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
        if (c.event == "fda_chat_db_open_failed") {
            const int code = std::stoi(entries[0]["sqlite_code"].get<std::string>());
            EXPECT_NE(code, SQLITE_OK);
            EXPECT_EQ(entries[0]["sqlite_code"], std::to_string(code)) << "plain decimal";
            EXPECT_FALSE(result.hasAccess);
            EXPECT_EQ(result.errorMessage, std::string(sqlite3_errstr(code)));
            EXPECT_EQ(entries[0]["sqlite_error"], sqlite3_errstr(code));
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

TEST_F(FullDiskAccessTest, OpeningTheSettingsTriesTheAddressesInOrder) {
    const std::vector<std::string> all(FullDiskAccessViewModel::kSettingsAddresses.begin(),
                                       FullDiskAccessViewModel::kSettingsAddresses.end());
    const struct {
        const char* name;
        int failuresFirst;
        size_t tried;
        std::string event;
    } cases[] = {
        {"the first opens", 0, 1, "fda_open_settings"},
        {"the third opens", 2, 3, "fda_open_settings"},
        {"none opens", 4, 4, "fda_open_settings_failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder caseFolder;
        opened.clear();
        opens = c.failuresFirst;
        auto caseSeams = seams();
        caseSeams.logger = caseFolder.logger("full-disk-access");
        FullDiskAccessViewModel model(caseSeams);
        SignalRecorder changes;
        changes.watch(&model, &FullDiskAccessViewModel::hasAccessChanged, "hasAccess");
        changes.watch(&model, &FullDiskAccessViewModel::lastErrorChanged, "lastError");

        model.openSettings();

        EXPECT_EQ(opened,
                  std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.tried)));
        const auto entries = caseFolder.loggedEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0]["message"], c.event);
        if (c.event == "fda_open_settings") {
            EXPECT_EQ(entries[0]["level"], "info");
            EXPECT_EQ(entries[0]["url"], all[c.tried - 1]);
        } else {
            EXPECT_EQ(entries[0]["level"], "warning");
            EXPECT_EQ(entries[0].size(), 5u) << "no metadata";
        }
        EXPECT_TRUE(changes.take().empty());
        EXPECT_FALSE(model.hasAccess());
    }
}

TEST_F(FullDiskAccessTest, SettingsOpenByThemselvesOnceAndOnRequestEveryTime) {
    FullDiskAccessViewModel model(seams());
    model.autoOpenSettingsIfNeeded();
    model.autoOpenSettingsIfNeeded();
    EXPECT_EQ(opened.size(), 1u);
    model.openSettings();
    model.openSettings();
    EXPECT_EQ(opened.size(), 3u);
    model.autoOpenSettingsIfNeeded();
    EXPECT_EQ(opened.size(), 3u);
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
