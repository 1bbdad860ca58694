// Versions of the shadow database: a database written before versions
// existed is upgraded in place, one from a newer version or another
// program's file is refused untouched, and a step that fails leaves the
// version before it.

#include "shadow/ShadowSchema.hpp"

#include "shadow/ShadowDB.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using orlune::testing::DatabaseProbe;
using orlune::testing::readFile;
using orlune::testing::ScopedEnv;
using orlune::testing::TempDir;
using ::testing::HasSubstr;

// Every object of the schema, with its SQL, by name.
std::vector<std::vector<std::string>> schemaOf(const std::string& path) {
    return DatabaseProbe(path).rows(
        "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
}

std::vector<std::string> sidecarsOf(const std::string& path) {
    std::vector<std::string> found;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (std::filesystem::exists(path + suffix)) {
            found.push_back(suffix);
        }
    }
    return found;
}

class ShadowSchemaTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"HOME", dir.path().string()};
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");

    void SetUp() override {
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        env.set("XDG_DATA_HOME", dir.file("data"));
        samplestore::SampleStoreOptions options;
        options.messageCount = 400;
        samplestore::buildSampleStore(storePath, options);
    }
};

TEST_F(ShadowSchemaTest, ADatabaseWithoutAVersionIsUpgradedInPlaceWithoutCopyingAgain) {
    ShadowSync sync(storePath, shadowPath);
    ASSERT_GT(sync.performSync(), 0);
    const std::string newSchemaFile = dir.file("new.db");
    ShadowDB(newSchemaFile).createSchemaIfNeeded();
    // As the version before schema versions left it: the original tables and
    // sync_marks, user_version 0.
    DatabaseProbe(shadowPath).exec("DROP TABLE sync_source; PRAGMA user_version = 0");
    DatabaseProbe before(shadowPath);
    const auto rows = before.rows("SELECT rowid, guid, chat_id, text FROM messages ORDER BY rowid");
    const auto state =
        before.rows("SELECT last_timestamp, last_rowid, message_count FROM sync_state");

    EXPECT_EQ(sync.performSync(), 0) << "nothing is copied again";

    DatabaseProbe after(shadowPath);
    EXPECT_EQ(after.value("PRAGMA user_version"), std::to_string(ShadowSchema::latestVersion()));
    EXPECT_EQ(after.rows("SELECT rowid, guid, chat_id, text FROM messages ORDER BY rowid"), rows);
    EXPECT_EQ(after.rows("SELECT last_timestamp, last_rowid, message_count FROM sync_state"),
              state);
    EXPECT_EQ(after.ftsIntegrity(), "ok");
    EXPECT_EQ(after.value("SELECT count(*) FROM sync_source"), "1");
    // An upgraded database has exactly the schema of a new one.
    EXPECT_EQ(schemaOf(shadowPath), schemaOf(newSchemaFile));
}

TEST_F(ShadowSchemaTest, ADatabaseOfANewerVersionIsRefusedAndLeftAsItWas) {
    ShadowSync sync(storePath, shadowPath);
    sync.performSync();
    const int newer = ShadowSchema::latestVersion() + 1;
    DatabaseProbe(shadowPath).exec("PRAGMA user_version = " + std::to_string(newer));
    const std::string bytes = readFile(shadowPath);
    const std::string expected = shadowPath + " was written by a newer version of Orlune " +
                                 "(database version " + std::to_string(newer) +
                                 "; this version knows up to " +
                                 std::to_string(ShadowSchema::latestVersion()) + ")";

    const std::pair<const char*, std::function<void()>> openers[] = {
        {"sync", [&] { sync.performSync(); }},
        {"writer", [&] { ShadowDB writer(shadowPath); }},
        {"reader", [&] { ShadowDBReader reader(shadowPath); }},
    };
    for (const auto& [name, open] : openers) {
        try {
            open();
            ADD_FAILURE() << name << " opened it";
        } catch (const ShadowDBError& error) {
            EXPECT_EQ(error.kind(), ShadowDBError::Kind::failedToOpen) << name;
            EXPECT_THAT(error.what(), HasSubstr(expected)) << name;
        }
        EXPECT_EQ(readFile(shadowPath), bytes) << name;
    }
}

// Another program's file handed over as the shadow database is refused
// before anything is written: no journal mode switched, no schema added.
TEST_F(ShadowSchemaTest, AFileThatIsNotAShadowDatabaseIsRefusedUntouched) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"another program's database",
         [](const std::string& path) {
             DatabaseProbe(path).exec("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT);"
                                      "INSERT INTO notes (body) VALUES ('keep me')");
         },
         "is not a shadow database (its tables: notes)"},
        {"another program's database in WAL mode",
         [](const std::string& path) {
             DatabaseProbe(path).exec("PRAGMA journal_mode = WAL;"
                                      "CREATE TABLE messages (id INTEGER PRIMARY KEY, body TEXT);"
                                      "CREATE TABLE people (id INTEGER PRIMARY KEY)");
         },
         "is not a shadow database (its tables: messages, people)"},
        {"not a database at all",
         [](const std::string& path) { orlune::testing::writeFile(path, std::string(4096, 'n')); },
         "file is not a database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".db");
        {
            core::sqlite::Connection create;
            ASSERT_EQ(create.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
        }
        c.make(path);
        const std::string bytes = readFile(path);
        const auto sidecars = sidecarsOf(path);

        for (const auto& open : std::vector<std::function<void()>>{
                 [&] { ShadowDB writer(path); },
                 [&] { ShadowSync(storePath, path).performSync(); }}) {
            try {
                open();
                ADD_FAILURE() << "opened";
            } catch (const ShadowDBError& error) {
                EXPECT_EQ(error.kind(), ShadowDBError::Kind::failedToOpen);
                EXPECT_THAT(error.what(), HasSubstr(c.reason));
                EXPECT_THAT(error.what(), HasSubstr(path));
            }
            EXPECT_EQ(readFile(path), bytes);
            EXPECT_EQ(sidecarsOf(path), sidecars);
        }
    }
}

TEST(ShadowSchemaMigrate, AStepThatFailsLeavesTheVersionBeforeIt) {
    TempDir dir;
    sqlite::Connection db;
    ASSERT_EQ(db.open(dir.file("steps.db"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    std::vector<ShadowSchema::Migration> steps = {
        {1, "first", {"CREATE TABLE a (x)"}},
        {2,
         "second",
         {"CREATE TABLE b (x)", "INSERT INTO b VALUES (1)", "INSERT INTO c VALUES (1)"}},
    };
    EXPECT_THROW(ShadowSchema::migrate(db.get(), steps), sqlite::Error);
    DatabaseProbe probe(dir.file("steps.db"));
    EXPECT_EQ(probe.value("PRAGMA user_version"), "1");
    EXPECT_EQ(probe.value("SELECT group_concat(name) FROM sqlite_master"), "a");

    // A step whose code fails is rolled back the same way.
    steps[1].statements.pop_back();
    steps[1].apply = [](sqlite3* handle) { sqlite::exec(handle, "SELECT * FROM nowhere"); };
    EXPECT_THROW(ShadowSchema::migrate(db.get(), steps), sqlite::Error);
    EXPECT_EQ(probe.value("PRAGMA user_version"), "1");
    EXPECT_EQ(probe.value("SELECT count(*) FROM sqlite_master WHERE name = 'b'"), "0");

    // Once it can run, it runs once.
    steps[1].apply = nullptr;
    ShadowSchema::migrate(db.get(), steps);
    ShadowSchema::migrate(db.get(), steps);
    EXPECT_EQ(probe.value("PRAGMA user_version"), "2");
    EXPECT_EQ(probe.value("SELECT count(*) FROM b"), "1");
}

// migrate() relies on it, and appending a step must keep it.
TEST(ShadowSchemaMigrate, StepsAreNumberedFromOneWithoutGaps) {
    int expected = 1;
    for (const ShadowSchema::Migration& step : ShadowSchema::migrations()) {
        EXPECT_EQ(step.version, expected++) << step.summary;
        EXPECT_FALSE(step.statements.empty() && step.apply == nullptr) << step.summary;
    }
    EXPECT_EQ(ShadowSchema::latestVersion(), expected - 1);
}

} // namespace
} // namespace orlune::core
