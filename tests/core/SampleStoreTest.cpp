#include "tools/samplestore/SampleStore.hpp"

#include "OrluneCore/ChatDBReader.hpp"
#include "OrluneCore/SQLite.hpp"
#include "OrluneCore/TypedStreamDecoder.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <gtest/gtest.h>

namespace orlune::samplestore {
namespace {

using core::ChatDBReader;
using core::FetchResult;
using orlune::testing::ScopedEnv;
using orlune::testing::TempDir;

int64_t scalar(const std::string& path, const std::string& sql) {
    core::sqlite::Connection db;
    EXPECT_EQ(db.open(path, SQLITE_OPEN_READONLY), SQLITE_OK);
    core::sqlite::Statement s = db.prepare(sql);
    EXPECT_TRUE(s.step()) << sql;
    return s.columnInt64(0);
}

std::vector<core::ShadowMessage> readAll(const std::string& path) {
    ChatDBReader reader(path);
    std::vector<core::ShadowMessage> all;
    int64_t date = 0, rowid = 0;
    for (;;) {
        FetchResult page = reader.fetchMessages(date, rowid, 5000);
        all.insert(all.end(), page.messages.begin(), page.messages.end());
        date = page.lastRawTimestamp;
        rowid = page.lastRawRowid;
        if (page.rawRowCount < 5000) {
            return all;
        }
    }
}

class SampleStoreTest : public ::testing::Test {
protected:
    SampleStoreTest() : home_("HOME", dir_.path().string()) {}
    TempDir dir_;
    ScopedEnv home_;
};

TEST_F(SampleStoreTest, HoldsTheMixReadersMustHandle) {
    const std::string path = dir_.file("chat.db");
    SampleStoreOptions options;
    options.messageCount = 4000;
    const auto summary = buildSampleStore(path, options);
    EXPECT_EQ(summary.messages, 4000);
    EXPECT_EQ(summary.archiveOnly + summary.textOnly + summary.both + summary.neither, 4000);
    EXPECT_EQ(scalar(path, "SELECT COUNT(*) FROM message"), 4000);

    // Where the text lives.
    EXPECT_GE(
        scalar(path,
               "SELECT COUNT(*) FROM message WHERE text IS NULL AND attributedBody IS NOT NULL"),
        summary.archiveOnly);
    EXPECT_GE(summary.archiveOnly * 100, summary.messages * 35);
    EXPECT_GT(
        scalar(path,
               "SELECT COUNT(*) FROM message WHERE text IS NOT NULL AND attributedBody IS NULL"),
        0);
    EXPECT_GT(
        scalar(
            path,
            "SELECT COUNT(*) FROM message WHERE text IS NOT NULL AND attributedBody IS NOT NULL"),
        0);
    EXPECT_GT(
        scalar(path, "SELECT COUNT(*) FROM message WHERE text IS NULL AND attributedBody IS NULL"),
        0);

    // Chats: groups and one-to-one, messages in none and in two, equal dates.
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM chat WHERE style = 43"), 0);
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM chat WHERE style = 45"), 0);
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM chat WHERE display_name = ''"), 0);
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM message WHERE ROWID NOT IN "
                           "(SELECT message_id FROM chat_message_join)"),
              0);
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM (SELECT message_id FROM chat_message_join "
                           "GROUP BY message_id HAVING COUNT(*) = 2)"),
              0);
    EXPECT_GT(scalar(path, "SELECT COUNT(*) FROM (SELECT date FROM message GROUP BY date "
                           "HAVING COUNT(*) > 1)"),
              0);
    EXPECT_EQ(scalar(path, "SELECT COUNT(*) FROM message a JOIN message b ON b.ROWID = a.ROWID + 1 "
                           "WHERE b.date < a.date"),
              0);

    // The texts readers get: long ones, non-ASCII and emoji, from archives too.
    bool over127 = false, over255 = false, nonAscii = false, emoji = false, archiveOver255 = false;
    for (const auto& m : readAll(path)) {
        const auto& t = m.text();
        over127 = over127 || t.size() > 127;
        over255 = over255 || t.size() > 255;
        nonAscii = nonAscii || std::any_of(t.begin(), t.end(), [](char c) { return c & 0x80; });
        emoji = emoji || t.find("\xF0\x9F") != std::string::npos;
    }
    {
        core::sqlite::Connection db;
        ASSERT_EQ(db.open(path, SQLITE_OPEN_READONLY), SQLITE_OK);
        core::sqlite::Statement s = db.prepare(
            "SELECT attributedBody FROM message WHERE text IS NULL AND attributedBody IS NOT NULL");
        while (s.step()) {
            auto text = core::TypedStreamDecoder::decodeToString(s.columnBytes(0));
            archiveOver255 = archiveOver255 || (text && text->size() > 255);
        }
    }
    EXPECT_TRUE(over127);
    EXPECT_TRUE(over255);
    EXPECT_TRUE(nonAscii);
    EXPECT_TRUE(emoji);
    EXPECT_TRUE(archiveOver255);
}

TEST_F(SampleStoreTest, ArchiveOnlyShareFollowsTheOption) {
    for (int percent : {0, 60, 100}) {
        SampleStoreOptions options;
        options.messageCount = 2000;
        options.archiveOnlyPercent = percent;
        const auto path = dir_.file(std::to_string(percent) + ".db");
        const auto summary = buildSampleStore(path, options);
        const int64_t share = summary.archiveOnly * 100 / summary.messages;
        EXPECT_NEAR(share, percent, 4) << percent;
    }
}

TEST_F(SampleStoreTest, SameSeedSameStore) {
    SampleStoreOptions options;
    options.messageCount = 500;
    options.seed = 3;
    buildSampleStore(dir_.file("a.db"), options);
    buildSampleStore(dir_.file("b.db"), options);
    options.seed = 4;
    buildSampleStore(dir_.file("c.db"), options);
    EXPECT_EQ(orlune::testing::readFile(dir_.file("a.db")),
              orlune::testing::readFile(dir_.file("b.db")));
    EXPECT_NE(orlune::testing::readFile(dir_.file("a.db")),
              orlune::testing::readFile(dir_.file("c.db")));
}

TEST_F(SampleStoreTest, AppendedMessagesComeAfterTheCursor) {
    const std::string path = dir_.file("chat.db");
    SampleStoreOptions options;
    options.messageCount = 300;
    buildSampleStore(path, options);
    const int64_t lastRowid = scalar(path, "SELECT MAX(ROWID) FROM message");
    const int64_t lastDate = scalar(path, "SELECT MAX(date) FROM message");

    const auto added = appendSampleMessages(path, 50, 99);
    EXPECT_EQ(added.messages, 50);
    EXPECT_EQ(scalar(path, "SELECT COUNT(*) FROM message"), 350);
    const std::string newRows = " WHERE ROWID > " + std::to_string(lastRowid);
    EXPECT_EQ(scalar(path, "SELECT MIN(ROWID) FROM message" + newRows), lastRowid + 1);

    ChatDBReader reader(path);
    FetchResult page = reader.fetchMessages(lastDate, lastRowid, 1000);
    EXPECT_EQ(page.rawRowCount,
              scalar(path, "SELECT COUNT(*) FROM message LEFT JOIN chat_message_join "
                           "ON ROWID = message_id" +
                               newRows));
}

TEST_F(SampleStoreTest, WriterRefusesAnExistingFile) {
    const std::string path = dir_.file("chat.db");
    orlune::testing::writeFile(path, "keep me");
    EXPECT_THROW(ChatStoreWriter writer(path), ChatStoreError);
    EXPECT_THROW(buildSampleStore(path), ChatStoreError);
    EXPECT_EQ(orlune::testing::readFile(path), "keep me");
}

} // namespace
} // namespace orlune::samplestore
