// What a sync keeps of a store shaped like a real one: reactions beside their
// message, group events left out, attachments, edits, unsends, deletions and
// junk, checked against what the sample-store builder says it wrote.

#include "records/AttachmentKind.hpp"
#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

namespace orlune::core {
namespace {

using samplestore::RealStoreContent;
using samplestore::SampleStoreOptions;
using samplestore::SampleStoreSummary;
using testing::ScopedEnv;
using testing::TempDir;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

std::set<std::string> column(const std::string& path, const std::string& sql) {
    std::set<std::string> values;
    for (const auto& row : testing::DatabaseProbe(path).rows(sql)) {
        values.insert(row.at(0));
    }
    return values;
}

// One store with everything, synced once; each test reads the copy.
class StoreContentSyncTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        SampleStoreOptions options;
        options.messageCount = 1500;
        options.seed = 7;
        options.content = RealStoreContent::everything();
        summary_ =
            new SampleStoreSummary(samplestore::buildSampleStore(dir_->file("chat.db"), options));
        ShadowSync(dir_->file("chat.db"), dir_->file("shadow.db")).performSync();
    }
    static void TearDownTestSuite() {
        delete summary_;
        delete dir_;
    }
    static std::string shadow() { return dir_->file("shadow.db"); }
    static std::set<std::string> storedGuids() {
        return column(shadow(), "SELECT guid FROM messages");
    }

    static TempDir* dir_;
    static SampleStoreSummary* summary_;
};

TempDir* StoreContentSyncTest::dir_ = nullptr;
SampleStoreSummary* StoreContentSyncTest::summary_ = nullptr;

TEST_F(StoreContentSyncTest, ReactionsAndGroupEventsAreNotMessages) {
    const auto guids = storedGuids();
    ASSERT_FALSE(summary_->reactionRows.empty());
    for (const auto& reaction : summary_->reactionRows) {
        EXPECT_EQ(guids.count(reaction.guid), 0u) << reaction.guid << " " << reaction.kind;
    }
    for (const auto& guid : summary_->groupEventGuids) {
        EXPECT_EQ(guids.count(guid), 0u) << guid;
    }
    // Texts written like reactions that quote nothing stay messages.
    ASSERT_FALSE(summary_->lookalikeGuids.empty());
    for (const auto& guid : summary_->lookalikeGuids) {
        EXPECT_EQ(guids.count(guid), 1u) << guid;
    }
}

TEST_F(StoreContentSyncTest, ReactionsKeepTheCurrentStatePerTargetSenderAndKind) {
    std::set<std::tuple<std::string, std::string, std::string>> expected;
    for (const auto& reaction : summary_->currentReactions) {
        expected.emplace(reaction.targetGuid, reaction.sender, reaction.kind);
    }
    std::set<std::tuple<std::string, std::string, std::string>> stored;
    for (const auto& row :
         testing::DatabaseProbe(shadow()).rows("SELECT target_guid, sender, kind FROM reactions")) {
        stored.emplace(row[0], row[1], row[2]);
    }
    EXPECT_EQ(stored, expected);
}

TEST_F(StoreContentSyncTest, SearchReturnsAReactedMessageOnceWithItsReactions) {
    ASSERT_FALSE(summary_->currentReactions.empty());
    const auto& reaction = summary_->currentReactions.front();
    ShadowDBReader reader(shadow());
    const auto reactions = reader.reactionsOn(reaction.targetGuid);
    EXPECT_TRUE(std::any_of(reactions.begin(), reactions.end(), [&](const StoredReaction& r) {
        return r.sender == reaction.sender && r.kind == reaction.kind && r.emoji == reaction.emoji;
    }));
}

TEST_F(StoreContentSyncTest, VoiceMessagesAreFoundByTheirTranscripts) {
    // The builder writes one voice message with the system's transcript and
    // one without; the summary gives each message's expected text.
    std::vector<std::pair<std::string, std::string>> voice; // guid, transcript
    for (const auto& message : summary_->attachmentMessages) {
        if (message.attachments.size() == 1 &&
            message.attachments[0].kind == attachmentKindName(AttachmentKind::VoiceMessage)) {
            voice.emplace_back(message.guid, message.transcript.value_or(""));
        }
    }
    const auto transcribed =
        std::find_if(voice.begin(), voice.end(), [](const auto& v) { return !v.second.empty(); });
    ASSERT_NE(transcribed, voice.end());
    ASSERT_TRUE(
        std::any_of(voice.begin(), voice.end(), [](const auto& v) { return v.second.empty(); }));

    ShadowDBReader reader(shadow());
    const auto hits = reader.search("seat window", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].guid, transcribed->first);
    EXPECT_EQ(hits[0].text, transcribed->second);
    EXPECT_TRUE(isVoiceTranscript(hits[0].text, {"voice message"}));
}

TEST_F(StoreContentSyncTest, AttachmentsAreDescribedAndPlaceholdersRemoved) {
    ASSERT_FALSE(summary_->attachmentMessages.empty());
    testing::DatabaseProbe probe(shadow());
    bool sawAttachmentAlone = false;
    for (const auto& message : summary_->attachmentMessages) {
        const auto rows = probe.rows("SELECT text, has_attachments FROM messages WHERE guid = " +
                                     quoted(message.guid));
        ASSERT_EQ(rows.size(), 1u) << message.guid;
        EXPECT_EQ(rows[0][0], message.transcript.value_or(message.text)) << message.guid;
        sawAttachmentAlone = sawAttachmentAlone || message.text.empty();
        const auto stored = probe.rows("SELECT kind, COALESCE(name, ''), bytes, hidden FROM "
                                       "attachments WHERE message_guid = " +
                                       quoted(message.guid) + " ORDER BY position");
        ASSERT_EQ(stored.size(), message.attachments.size()) << message.guid;
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_EQ(stored[i][0], message.attachments[i].kind) << message.guid;
            EXPECT_EQ(stored[i][2], std::to_string(message.attachments[i].totalBytes));
            EXPECT_EQ(stored[i][3], message.attachments[i].hidden ? "1" : "0");
        }
    }
    EXPECT_TRUE(sawAttachmentAlone);
    EXPECT_EQ(probe.value("SELECT COUNT(*) FROM messages WHERE text LIKE '%' || char(65532) || "
                          "'%' OR text LIKE '%' || char(65533) || '%'"),
              "0");
}

TEST_F(StoreContentSyncTest, EditedMessagesShowTheirCurrentText) {
    ASSERT_FALSE(summary_->edits.empty());
    testing::DatabaseProbe probe(shadow());
    for (const auto& edit : summary_->edits) {
        const auto rows = probe.rows("SELECT text, edited_at IS NOT NULL FROM messages WHERE "
                                     "guid = " +
                                     quoted(edit.guid));
        ASSERT_EQ(rows.size(), 1u) << edit.guid;
        EXPECT_EQ(rows[0][0], edit.currentText) << edit.guid;
        EXPECT_EQ(rows[0][1], "1") << edit.guid;
    }
}

TEST_F(StoreContentSyncTest, RemovedAndJunkMessagesAreLeftOut) {
    const auto guids = storedGuids();
    ASSERT_FALSE(summary_->removed.empty());
    for (const auto& removed : summary_->removed) {
        EXPECT_EQ(guids.count(removed.guid), 0u) << removed.guid;
    }
    for (const auto& restored : summary_->restored) {
        EXPECT_EQ(guids.count(restored.guid), 1u) << restored.guid;
    }
    ASSERT_FALSE(summary_->junkMessageGuids.empty());
    for (const auto& guid : summary_->junkMessageGuids) {
        EXPECT_EQ(guids.count(guid), 0u) << guid;
    }
}

// A second pass over the unchanged store writes nothing.
TEST_F(StoreContentSyncTest, AnUnchangedStoreWritesNothing) {
    EXPECT_EQ(ShadowSync(dir_->file("chat.db"), shadow()).performSync(), 0);
}

} // namespace
} // namespace orlune::core

namespace orlune::core {
namespace {

using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;

// A small hand-made store: handle 1, one chat, messages 1..20 with dates
// 1000.., text "message <rowid>".
class HandMadeStoreSyncTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"HOME", dir.path().string()};
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");

    void SetUp() override {
        env.set("XDG_DATA_HOME", dir.file("data"));
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        ChatStoreWriter store(storePath);
        store.addHandle(HandleRow{1, std::string("+15550001"), std::string("iMessage")});
        store.addChat(ChatRow{1, "iMessage;-;+15550001", std::nullopt,
                              samplestore::kDirectChatStyle, "+15550001"});
        store.addChatMember(1, 1);
        for (int64_t rowid = 1; rowid <= 20; ++rowid) {
            MessageRow row;
            row.rowid = rowid;
            row.guid = "guid-" + std::to_string(rowid);
            row.text = "message " + std::to_string(rowid);
            row.date = 999 + rowid;
            row.handleId = 1;
            store.addMessage(row);
            store.joinMessageToChat(rowid, 1, row.date);
        }
    }

    void storeSql(const std::string& sql) { testing::DatabaseProbe(storePath).exec(sql); }
    int64_t sync() { return ShadowSync(storePath, shadowPath).performSync(); }
    std::string shadowValue(const std::string& sql) {
        return testing::DatabaseProbe(shadowPath).value(sql);
    }
};

// Dates the (date, ROWID) cursor cannot order: each row is copied once, and
// a second pass finds nothing to write.
TEST_F(HandMadeStoreSyncTest, RowsWithOddDatesAreCopiedOnce) {
    struct Case {
        const char* name;
        const char* date;
    };
    const Case cases[] = {
        {"text", "'yesterday'"}, {"null", "NULL"},        {"zero", "0"},
        {"negative", "-1006"},   {"huge real", "1.5e30"},
    };
    storeSql("DROP TRIGGER IF EXISTS update_message_date_after_update_on_message");
    int64_t rowid = 3;
    for (const Case& c : cases) {
        storeSql("UPDATE message SET date = " + std::string(c.date) +
                 " WHERE ROWID = " + std::to_string(rowid++));
    }
    EXPECT_EQ(sync(), 20);
    EXPECT_EQ(shadowValue("SELECT COUNT(*) FROM messages"), "20");
    EXPECT_EQ(sync(), 0);
    // New rows after them are still read.
    storeSql("INSERT INTO message (ROWID, guid, text, date, handle_id, is_from_me) VALUES "
             "(21, 'guid-21', 'message 21', 5000, 1, 0)");
    EXPECT_EQ(sync(), 1);
    EXPECT_EQ(sync(), 0);
}

TEST_F(HandMadeStoreSyncTest, TextWithNulIsKeptWhole) {
    storeSql("UPDATE message SET text = 'hello' || char(0) || 'secret world' WHERE ROWID = 4");
    sync();
    EXPECT_EQ(shadowValue("SELECT text FROM messages WHERE guid = 'guid-4'"), "hello secret world");
    EXPECT_EQ(shadowValue("SELECT COUNT(*) FROM messages_fts WHERE messages_fts MATCH 'secret'"),
              "1");
}

// A store whose message table lost its UNIQUE guid: each of the rows that
// share a guid is kept, the later ones under "<guid>#<ROWID>".
TEST_F(HandMadeStoreSyncTest, RowsSharingAGuidAreEachKept) {
    for (const auto& row : testing::DatabaseProbe(storePath).rows(
             "SELECT name FROM sqlite_master WHERE type = 'trigger'")) {
        storeSql("DROP TRIGGER \"" + row[0] + "\"");
    }
    storeSql("CREATE TABLE message_copy AS SELECT * FROM message");
    storeSql("DROP TABLE message");
    storeSql("ALTER TABLE message_copy RENAME TO message");
    storeSql("UPDATE message SET guid = 'guid-5' WHERE ROWID IN (6, 7)");
    EXPECT_EQ(sync(), 20);
    EXPECT_EQ(shadowValue("SELECT group_concat(guid, ',') FROM (SELECT guid FROM messages WHERE "
                          "guid LIKE 'guid-5%' ORDER BY guid)"),
              "guid-5,guid-5#6,guid-5#7");
    EXPECT_EQ(sync(), 0);
}

} // namespace
} // namespace orlune::core

namespace orlune::core {
namespace {

using testing::fileHolds;

// The same store before and after the messaging app's changes (edits,
// unsends, deletions, Recently Deleted and back, deleted conversations): the
// next pass follows them, and a removed message's words are left nowhere in
// the shadow database's files.
TEST(StoreChangesSyncTest, ANextPassFollowsEditsAndDeletionsAndLeavesNoWordsBehind) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("XDG_DATA_HOME", dir.file("data"));
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    SampleStoreOptions options;
    options.messageCount = 1500;
    options.seed = 11;
    options.content = RealStoreContent::everything();
    options.deferChanges = true;
    const auto summary = samplestore::buildSampleStore(dir.file("chat.db"), options);
    ASSERT_FALSE(summary.pendingChanges.empty());
    ShadowSync sync(dir.file("chat.db"), dir.file("shadow.db"));
    sync.performSync();

    std::vector<std::string> words;
    for (const auto& removed : summary.removed) {
        if (removed.word) {
            words.push_back(*removed.word);
        }
    }
    ASSERT_FALSE(words.empty());
    {
        ShadowDBReader reader(dir.file("shadow.db"));
        for (const auto& word : words) {
            EXPECT_EQ(reader.search(word, 5).size(), 1u) << word << " before the changes";
        }
    }

    samplestore::applyStoreChanges(dir.file("chat.db"), summary.pendingChanges);
    sync.performSync();

    const auto guids = column(dir.file("shadow.db"), "SELECT guid FROM messages");
    for (const auto& removed : summary.removed) {
        EXPECT_EQ(guids.count(removed.guid), 0u)
            << removed.guid << " how " << static_cast<int>(removed.how);
    }
    for (const auto& restored : summary.restored) {
        EXPECT_EQ(guids.count(restored.guid), 1u) << restored.guid;
    }
    testing::DatabaseProbe probe(dir.file("shadow.db"));
    for (const auto& edit : summary.edits) {
        EXPECT_EQ(probe.value("SELECT text FROM messages WHERE guid = " + quoted(edit.guid)),
                  edit.currentText);
    }
    EXPECT_EQ(probe.ftsIntegrity(), "ok");
    EXPECT_EQ(probe.value("SELECT message_count FROM sync_state"),
              probe.value("SELECT COUNT(*) FROM messages"));
    {
        ShadowDBReader reader(dir.file("shadow.db"));
        for (const auto& word : words) {
            EXPECT_TRUE(reader.search(word, 5).empty()) << word;
        }
    }
    for (const auto& word : words) {
        for (const char* suffix : {"", "-wal"}) {
            EXPECT_FALSE(fileHolds(dir.file("shadow.db") + suffix, word)) << word << suffix;
        }
    }
}

} // namespace
} // namespace orlune::core

namespace orlune::core {
namespace {

// Every era of the store's schema: older stores lack the newer columns and
// tables (no date_edited, no Recently Deleted, dates in seconds) and sync
// all the same, with reactions and removals handled as far as the era
// holds them, and a second pass writing nothing.
TEST(StoreEraSyncTest, EveryEraSyncsWithWhatItHolds) {
    using samplestore::StoreEra;
    for (StoreEra era :
         {StoreEra::VeryOld, StoreEra::BeforeEdits, StoreEra::Recent, StoreEra::Newest}) {
        SCOPED_TRACE(static_cast<int>(era));
        TempDir dir;
        ScopedEnv env("HOME", dir.path().string());
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        SampleStoreOptions options;
        options.messageCount = 600;
        options.era = era;
        options.content = RealStoreContent::everything();
        const auto summary = samplestore::buildSampleStore(dir.file("chat.db"), options);
        ShadowSync sync(dir.file("chat.db"), dir.file("shadow.db"));
        EXPECT_GT(sync.performSync(), 0);
        const auto guids = column(dir.file("shadow.db"), "SELECT guid FROM messages");
        for (const auto& reaction : summary.reactionRows) {
            EXPECT_EQ(guids.count(reaction.guid), 0u) << reaction.guid;
        }
        for (const auto& removed : summary.removed) {
            EXPECT_EQ(guids.count(removed.guid), 0u) << removed.guid;
        }
        EXPECT_EQ(sync.performSync(), 0);
    }
}

// Junk is left out by default; the switch brings it in, and turning it off
// again takes it out.
TEST(JunkSyncTest, OneSwitchBringsJunkInAndOut) {
    TempDir dir;
    ScopedEnv env("HOME", dir.path().string());
    env.set("ORLUNE_DATA_DIR", dir.file("data"));
    SampleStoreOptions options;
    options.messageCount = 600;
    options.content.junk = true;
    const auto summary = samplestore::buildSampleStore(dir.file("chat.db"), options);
    ASSERT_FALSE(summary.junkMessageGuids.empty());
    ShadowSync sync(dir.file("chat.db"), dir.file("shadow.db"));
    auto junkStored = [&] {
        const auto guids = column(dir.file("shadow.db"), "SELECT guid FROM messages");
        size_t stored = 0;
        for (const auto& guid : summary.junkMessageGuids) {
            stored += guids.count(guid);
        }
        return stored;
    };
    sync.performSync();
    EXPECT_EQ(junkStored(), 0u);
    sync.setIncludeJunk(true);
    sync.performSync();
    EXPECT_EQ(junkStored(), summary.junkMessageGuids.size());
    EXPECT_EQ(sync.performSync(), 0);
    sync.setIncludeJunk(false);
    sync.performSync();
    EXPECT_EQ(junkStored(), 0u);
    testing::DatabaseProbe probe(dir.file("shadow.db"));
    EXPECT_EQ(probe.value("SELECT message_count FROM sync_state"),
              probe.value("SELECT COUNT(*) FROM messages"));
}

// A first copy writes several pages to a transaction, each page reading
// what the pages before it wrote before any of them is committed. It holds
// exactly what copies made as the store grew hold: the same messages with
// their chats, emoji, spaced texts, reactions and attachments, and the same
// counts.
TEST(FirstCopySyncTest, ACopyOfManyPagesHoldsWhatCopiesMadeAsTheStoreGrewHold) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path().string());
    const std::string store = dir.file("chat.db");
    SampleStoreOptions options;
    options.messageCount = 20000;
    options.seed = 11;
    options.spacelessPercent = 5;
    options.content = RealStoreContent::everything();
    samplestore::buildSampleStore(store, options);

    ShadowSync grown(store, dir.file("grown.db"));
    grown.performSync();
    for (uint64_t seed : {12u, 13u}) {
        samplestore::appendSampleMessages(store, 10000, seed);
        grown.performSync();
    }
    ShadowSync whole(store, dir.file("whole.db"));
    ASSERT_GT(whole.performSync(), 3 * ShadowSync::kBatchSize)
        << "the first copy writes several pages to a transaction";

    const char* tables[] = {
        "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
        "       has_attachments, attachment_types, content_hash, edited_at,\n"
        "       thread_originator_guid\n"
        "FROM messages ORDER BY guid",
        "SELECT message_guid, chat_id FROM message_chats ORDER BY 1, 2",
        "SELECT emoji, message_guid FROM message_emoji ORDER BY 1, 2",
        "SELECT m.guid, s.text FROM spaced_texts s JOIN messages m ON m.rowid = s.id ORDER BY 1",
        "SELECT * FROM reactions ORDER BY target_guid, sender, kind",
        "SELECT * FROM attachments ORDER BY message_guid, position",
        "SELECT * FROM left_out_counts",
        "SELECT message_count FROM sync_state",
    };
    testing::DatabaseProbe grownCopy(dir.file("grown.db"));
    testing::DatabaseProbe wholeCopy(dir.file("whole.db"));
    for (const char* sql : tables) {
        SCOPED_TRACE(sql);
        const auto rows = wholeCopy.rows(sql);
        EXPECT_FALSE(rows.empty());
        EXPECT_EQ(rows, grownCopy.rows(sql));
    }
    EXPECT_EQ(wholeCopy.ftsIntegrity(), "ok");
}

} // namespace
} // namespace orlune::core
