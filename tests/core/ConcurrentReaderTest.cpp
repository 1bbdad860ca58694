// A reader with its own connection to the shadow database (as the helper
// process has) queries and searches in a loop while a sync writes: every read
// succeeds and sees whole pages only.

#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/SQLite.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace orlune::core {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

// One consistent look at the shadow database, in one read transaction.
struct Snapshot {
    int64_t rows = 0;
    int64_t storedCount = 0; // sync_state.message_count
    int64_t hits = 0;        // full-text hits
    int64_t hitsWithRow = 0; // hits whose message row exists
};

class Reader {
public:
    explicit Reader(const std::string& path) {
        if (db_.open(path, SQLITE_OPEN_READONLY) != SQLITE_OK) {
            throw std::runtime_error(db_.errorMessage());
        }
    }

    // Throws with SQLite's message on any failure, busy included.
    Snapshot look() {
        run("BEGIN");
        Snapshot snapshot;
        snapshot.rows = integer("SELECT count(*) FROM messages");
        snapshot.storedCount = integer("SELECT message_count FROM sync_state WHERE id = 1");
        snapshot.hits = integer(
            "SELECT count(*) FROM messages_fts WHERE messages_fts MATCH 'pizza OR tomorrow'");
        snapshot.hitsWithRow = integer(
            "SELECT count(*) FROM messages_fts JOIN messages m ON m.rowid = messages_fts.rowid "
            "WHERE messages_fts MATCH 'pizza OR tomorrow' ORDER BY bm25(messages_fts)");
        integer("SELECT count(*) FROM (SELECT guid, text FROM messages ORDER BY timestamp DESC "
                "LIMIT 50)");
        run("COMMIT");
        return snapshot;
    }

private:
    void run(const char* sql) { db_.exec(sql); }
    int64_t integer(const std::string& sql) {
        sqlite::Statement statement = db_.prepare(sql);
        if (!statement.step()) {
            throw std::runtime_error("no row: " + sql);
        }
        const int64_t value = statement.columnInt64(0);
        statement.run();
        return value;
    }

    sqlite::Connection db_;
};

TEST(ConcurrentReaderTest, AReaderDuringASyncNeverFailsAndSeesWholePagesOnly) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("XDG_DATA_HOME", dir.file("data"));
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    const std::string storePath = dir.file("chat.db");
    const std::string shadowPath = dir.file("shadow.db");
    samplestore::SampleStoreOptions options;
    options.messageCount = 60000; // six pages
    samplestore::buildSampleStore(storePath, options);
    {
        ShadowDB shadow(shadowPath);
        shadow.createSchemaIfNeeded();
    }

    Reader reader(shadowPath);
    std::atomic<bool> done{false};
    std::string syncError;
    std::thread writer([&] {
        try {
            ShadowSync(storePath, shadowPath).performSync();
        } catch (const std::exception& error) {
            syncError = error.what();
        }
        done = true;
    });

    std::vector<Snapshot> seen;
    std::string readError;
    try {
        while (!done) {
            seen.push_back(reader.look());
        }
        seen.push_back(reader.look());
    } catch (const std::exception& error) {
        readError = error.what();
    }
    writer.join();

    ASSERT_EQ(syncError, "");
    ASSERT_EQ(readError, "");
    ASSERT_GT(seen.size(), 1u);
    int64_t previous = 0;
    std::set<int64_t> distinctCounts;
    for (const Snapshot& snapshot : seen) {
        // A page and its count are written together: a snapshot never holds
        // part of a page.
        EXPECT_EQ(snapshot.rows, snapshot.storedCount);
        EXPECT_EQ(snapshot.hits, snapshot.hitsWithRow);
        EXPECT_GE(snapshot.rows, previous);
        previous = snapshot.rows;
        distinctCounts.insert(snapshot.rows);
    }
    EXPECT_EQ(seen.back().rows, ShadowSync(storePath, shadowPath).messageCount());
    // The reader did look while the sync was writing.
    EXPECT_GT(distinctCounts.size(), 1u);
}

// The read verbs and the helper open the shadow database afresh for each
// request. Opened while syncs come and go (each pass opens the database,
// writes, checkpoints and closes it), every one waits out the writer's locks
// and reads.
TEST(ConcurrentReaderTest, ReadOnlyHandlesOpenedDuringSyncsAllSucceed) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    const std::string storePath = dir.file("chat.db");
    const std::string shadowPath = dir.file("shadow.db");
    samplestore::SampleStoreOptions options;
    options.messageCount = 3000;
    samplestore::buildSampleStore(storePath, options);
    ShadowSync(storePath, shadowPath).performSync();

    std::atomic<bool> done{false};
    std::string syncError;
    std::thread writer([&] {
        try {
            for (int pass = 0; pass < 15; ++pass) {
                samplestore::appendSampleMessages(storePath, 200, 1000 + pass);
                ShadowSync(storePath, shadowPath).performSync();
            }
        } catch (const std::exception& error) {
            syncError = error.what();
        }
        done = true;
    });

    int reads = 0;
    std::vector<std::string> failures;
    while (!done) {
        try {
            ShadowDBReader reader(shadowPath);
            reader.messageCount();
            reader.search("pizza OR tomorrow", 5);
            reader.executeReadOnly("SELECT count(*) FROM messages", 1);
            ++reads;
        } catch (const std::exception& error) {
            failures.push_back(error.what());
        }
    }
    writer.join();

    ASSERT_EQ(syncError, "");
    EXPECT_TRUE(failures.empty()) << failures.size() << " failed, the first: " << failures.front();
    EXPECT_GT(reads, 0);
}

} // namespace
} // namespace orlune::core
