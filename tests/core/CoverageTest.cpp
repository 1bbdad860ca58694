// What the shadow database says it covers: the store's rows the sync left
// out, by why, checked against the store itself through later passes, an
// upgrade and the junk switch; and the words that say it.

#include "answer/CoverageText.hpp"
#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "time/StoreTime.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

using samplestore::RealStoreContent;
using samplestore::SampleStoreOptions;
using samplestore::SampleStoreSummary;
using testing::DatabaseProbe;
using testing::ScopedEnv;
using testing::TempDir;

constexpr const char* kReactionTypes =
    "(associated_message_type IN (1000, 4000) OR associated_message_type BETWEEN 2000 AND 2007 "
    "OR associated_message_type BETWEEN 3000 AND 3007)";

int64_t number(DatabaseProbe& probe, const std::string& sql) {
    return std::stoll(probe.value(sql));
}

// What the store holds that a sync must leave out, counted in the store with
// SQL; what SQL cannot see (reactions written as text, unsent messages whose
// date_retracted stayed 0) is taken from what the builder wrote.
struct Expected {
    LeftOutCounts leftOut;
    int64_t recentlyDeleted = 0;
};

Expected expectedFromStore(const std::string& storePath, const SampleStoreSummary& summary,
                           bool changesMade, bool junkIncluded) {
    DatabaseProbe store(storePath);
    Expected expected;
    expected.leftOut.events =
        number(store, "SELECT COUNT(*) FROM message WHERE guid IS NOT NULL AND item_type <> 0");
    const int64_t textReactions =
        std::count_if(summary.reactionRows.begin(), summary.reactionRows.end(),
                      [](const auto& reaction) { return reaction.associatedType == 0; });
    expected.leftOut.reactions =
        number(store, std::string("SELECT COUNT(*) FROM message WHERE guid IS NOT NULL AND "
                                  "item_type = 0 AND ") +
                          kReactionTypes) +
        textReactions;
    if (!junkIncluded) {
        expected.leftOut.junk = number(
            store, std::string("SELECT COUNT(*) FROM message m WHERE guid IS NOT NULL AND "
                               "item_type = 0 AND NOT ") +
                       kReactionTypes +
                       " AND m.ROWID NOT IN (SELECT message_id FROM "
                       "chat_recoverable_message_join) AND (m.is_spam <> 0 OR EXISTS (SELECT 1 "
                       "FROM chat_message_join j JOIN chat c ON c.ROWID = j.chat_id WHERE "
                       "j.message_id = m.ROWID AND (c.is_filtered = 2 OR c.is_blackholed <> 0)))");
    }
    if (changesMade) {
        expected.leftOut.unsent =
            std::count_if(summary.removed.begin(), summary.removed.end(), [](const auto& removed) {
                return removed.how == SampleStoreSummary::Removal::Unsent;
            });
    }
    expected.recentlyDeleted =
        number(store, "SELECT COUNT(DISTINCT message_id) FROM chat_recoverable_message_join");
    return expected;
}

// The attachments of copied messages that the builder left without a file
// name (not downloaded) and did not hide.
int64_t attachmentsNotDownloaded(const SampleStoreSummary& summary, const std::string& shadow) {
    std::set<std::string> stored;
    for (const auto& row : DatabaseProbe(shadow).rows("SELECT guid FROM messages")) {
        stored.insert(row.at(0));
    }
    int64_t count = 0;
    for (const auto& message : summary.attachmentMessages) {
        if (stored.count(message.guid) != 0) {
            count += std::count_if(message.attachments.begin(), message.attachments.end(),
                                   [](const auto& attachment) {
                                       return !attachment.downloaded && !attachment.hidden;
                                   });
        }
    }
    return count;
}

// One store with every kind of row a sync leaves out, its changes made
// between passes: after each pass the counts match the store, a pass over an
// unchanged store counts nothing twice, a database from before the counts
// counts them on its next sync, and junk taken in is no longer left out.
TEST(CoverageSyncTest, WhatIsLeftOutMatchesTheStoreThroughLaterPasses) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    const std::string storePath = dir.file("chat.db");
    const std::string shadowPath = dir.file("shadow.db");
    SampleStoreOptions options;
    options.messageCount = 1500;
    options.seed = 11;
    options.content = RealStoreContent::everything();
    options.deferChanges = true;
    const SampleStoreSummary summary = samplestore::buildSampleStore(storePath, options);
    ShadowSync sync(storePath, shadowPath);

    // The rows the sync read and left out stay counted when the store later
    // deletes them for good (their kind is not known then) until the store
    // is read again from its start: `readAgain` says the counts must match
    // the store as it is; otherwise reactions as the first pass found them.
    struct Stage {
        const char* name;
        std::function<void()> before;
        bool changesMade;
        bool junkIncluded;
        bool readAgain;
    };
    const Stage stages[] = {
        {"first pass", [] {}, false, false, true},
        {"the app's changes made",
         [&] { samplestore::applyStoreChanges(storePath, summary.pendingChanges); }, true, false,
         false},
        {"nothing changed", [] {}, true, false, false},
        {"a database from before the counts",
         [&] {
             DatabaseProbe(shadowPath).exec("DROP TABLE left_out_counts; PRAGMA user_version = 8");
         },
         true, false, true},
        {"junk taken in", [&] { sync.setIncludeJunk(true); }, true, true, true},
    };
    int64_t reactionsFirstRead = 0;
    for (const Stage& stage : stages) {
        SCOPED_TRACE(stage.name);
        stage.before();
        sync.performSync();
        Expected expected =
            expectedFromStore(storePath, summary, stage.changesMade, stage.junkIncluded);
        if (!stage.changesMade) {
            reactionsFirstRead = expected.leftOut.reactions;
        }
        if (!stage.readAgain) {
            EXPECT_LT(expected.leftOut.reactions, reactionsFirstRead) << "some were deleted";
            expected.leftOut.reactions = reactionsFirstRead;
        }
        const Coverage coverage = ShadowDBReader(shadowPath).coverage();
        EXPECT_EQ(coverage.leftOut.reactions, expected.leftOut.reactions);
        EXPECT_EQ(coverage.leftOut.events, expected.leftOut.events);
        EXPECT_EQ(coverage.leftOut.junk, expected.leftOut.junk);
        EXPECT_EQ(coverage.leftOut.unsent, expected.leftOut.unsent);
        EXPECT_EQ(coverage.recentlyDeleted, expected.recentlyDeleted);
        EXPECT_EQ(coverage.attachmentsNotDownloaded, attachmentsNotDownloaded(summary, shadowPath));
        EXPECT_EQ(coverage.messages, sync.messageCount());
        EXPECT_EQ(coverage.chatsExcluded, 0);
    }
    // The kinds are all there, so the comparisons above mean something.
    const Expected last = expectedFromStore(storePath, summary, true, false);
    EXPECT_GT(last.leftOut.reactions, 0);
    EXPECT_GT(last.leftOut.events, 0);
    EXPECT_GT(last.leftOut.junk, 0);
    EXPECT_GT(last.leftOut.unsent, 0);
    EXPECT_GT(last.recentlyDeleted, 0);
    EXPECT_GT(attachmentsNotDownloaded(summary, shadowPath), 0);
}

// The span runs from the oldest to the newest copied message, and rows whose
// date the store could not give do not stretch it.
TEST(CoverageSyncTest, TheSpanRunsFromTheFirstToTheLastCopiedMessage) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    SampleStoreOptions options;
    options.messageCount = 300;
    const SampleStoreSummary summary = samplestore::buildSampleStore(dir.file("chat.db"), options);
    {
        const std::string empty = dir.file("empty.db");
        ShadowDB(empty).createSchemaIfNeeded();
        const Coverage none = ShadowDBReader(empty).coverage();
        EXPECT_EQ(none.messages, 0);
        EXPECT_FALSE(none.span);
    }
    ShadowSync(dir.file("chat.db"), dir.file("shadow.db")).performSync();
    DatabaseProbe store(dir.file("chat.db"));
    const int64_t first = number(store, "SELECT MIN(date) FROM message");
    DatabaseProbe(dir.file("shadow.db"))
        .exec("UPDATE messages SET timestamp = 0 WHERE rowid = (SELECT MAX(rowid) FROM messages)");
    const auto span = ShadowDBReader(dir.file("shadow.db")).messageTimeSpan();
    ASSERT_TRUE(span);
    EXPECT_EQ(span->first, instantFromStoreDate(first));
    EXPECT_LE(span->last, instantFromStoreDate(summary.lastDate));
    EXPECT_GT(span->last, span->first);
}

} // namespace
} // namespace orlune::core
