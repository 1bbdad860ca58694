#include "tools/samplestore/SampleStore.hpp"

#include "sql/SQLite.hpp"
#include "store/ChatDBReader.hpp"
#include "store/MessageSummaryInfo.hpp"
#include "store/MessageText.hpp"
#include "store/Reaction.hpp"
#include "store/TypedStreamDecoder.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace orlune::samplestore {
namespace {

using core::ChatDBReader;
using core::FetchResult;
using orlune::testing::DatabaseProbe;
using orlune::testing::ScopedEnv;
using orlune::testing::TempDir;
using Removal = SampleStoreSummary::Removal;

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
    for (bool real : {false, true}) {
        SampleStoreOptions options;
        options.messageCount = 500;
        options.seed = 3;
        if (real) {
            options.content = RealStoreContent::everything();
        }
        const std::string name = real ? "real-" : "plain-";
        buildSampleStore(dir_.file(name + "a.db"), options);
        buildSampleStore(dir_.file(name + "b.db"), options);
        options.seed = 4;
        buildSampleStore(dir_.file(name + "c.db"), options);
        EXPECT_EQ(orlune::testing::readFile(dir_.file(name + "a.db")),
                  orlune::testing::readFile(dir_.file(name + "b.db")))
            << name;
        EXPECT_NE(orlune::testing::readFile(dir_.file(name + "a.db")),
                  orlune::testing::readFile(dir_.file(name + "c.db")))
            << name;
    }
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

// Quoted for SQL (guids and words here never hold a quote).
std::string q(const std::string& text) {
    return "'" + text + "'";
}

// The text of a message as a reader gets it: the column, else the body.
std::optional<std::string> textOf(DatabaseProbe& store, const std::string& guid) {
    auto rows = store.rows("SELECT text, hex(attributedBody) FROM message WHERE guid = " + q(guid));
    if (rows.empty()) {
        return std::nullopt;
    }
    if (rows[0][0] != "NULL" && !rows[0][0].empty()) {
        return rows[0][0];
    }
    if (rows[0][1] == "NULL") {
        return std::nullopt;
    }
    auto body = core::decodeHex(rows[0][1]);
    return body ? core::TypedStreamDecoder::decodeToString(*body) : std::nullopt;
}

std::string blob(const std::string& path, const std::string& sql) {
    DatabaseProbe store(path);
    auto hex = store.value("SELECT hex((" + sql + "))");
    return core::decodeHex(hex).value_or("");
}

TEST_F(SampleStoreTest, WithoutRealContentTheStoreHoldsPlainMessagesOnly) {
    const std::string path = dir_.file("chat.db");
    SampleStoreOptions options;
    options.messageCount = 500;
    const auto summary = buildSampleStore(path, options);
    EXPECT_EQ(summary.messageRows, summary.messages);
    DatabaseProbe store(path);
    for (const char* sql : {
             "SELECT COUNT(*) FROM message WHERE associated_message_type != 0 OR item_type != 0",
             "SELECT COUNT(*) FROM message WHERE date_edited != 0 OR message_summary_info IS NOT "
             "NULL",
             "SELECT COUNT(*) FROM attachment",
             "SELECT COUNT(*) FROM chat_recoverable_message_join",
             "SELECT COUNT(*) FROM deleted_messages",
             "SELECT COUNT(*) FROM chat WHERE is_filtered != 0 OR is_blackholed != 0",
         }) {
        EXPECT_EQ(store.value(sql), "0") << sql;
    }
    EXPECT_TRUE(summary.reactionRows.empty());
    EXPECT_TRUE(summary.attachmentMessages.empty());
    EXPECT_TRUE(summary.pendingChanges.empty());
}

TEST_F(SampleStoreTest, EachEraHasItsColumnsTimeUnitAndChatGuids) {
    struct Case {
        StoreEra era;
        const char* name;
        bool messageDate; // chat_message_join.message_date
        bool personId;    // handle.person_centric_id
        bool edits;       // message.date_edited and the Recently Deleted tables
        bool newest;      // message.ck_chat_id, chat guids "any;"
        bool seconds;     // dates in seconds
    };
    const Case cases[] = {
        {StoreEra::VeryOld, "very old", false, false, false, false, true},
        {StoreEra::BeforeEdits, "before edits", true, true, false, false, false},
        {StoreEra::Recent, "recent", true, true, true, false, false},
        {StoreEra::Newest, "newest", true, true, true, true, false},
    };
    for (const auto& c : cases) {
        const std::string path = dir_.file(std::string(c.name) + ".db");
        SampleStoreOptions options;
        options.messageCount = 400;
        options.era = c.era;
        options.content = RealStoreContent::everything();
        const auto summary = buildSampleStore(path, options);
        {
            DatabaseProbe store(path);
            auto has = [&store](const std::string& table, const std::string& column) {
                return store.value("SELECT COUNT(*) FROM pragma_table_info(" + q(table) +
                                   ") WHERE name = " + q(column)) == "1";
            };
            EXPECT_EQ(has("chat_message_join", "message_date"), c.messageDate) << c.name;
            EXPECT_EQ(has("handle", "person_centric_id"), c.personId) << c.name;
            EXPECT_EQ(has("message", "date_edited"), c.edits) << c.name;
            EXPECT_EQ(has("message", "associated_message_emoji"), c.edits) << c.name;
            EXPECT_EQ(has("chat_recoverable_message_join", "delete_date"), c.edits) << c.name;
            EXPECT_EQ(has("message", "ck_chat_id"), c.newest) << c.name;
            EXPECT_EQ(has("message", "thread_originator_guid"), c.messageDate) << c.name;
            const int64_t newest = std::stoll(store.value("SELECT MAX(date) FROM message"));
            EXPECT_EQ(newest < 10000000000LL, c.seconds) << c.name;
            EXPECT_EQ(store.value("SELECT COUNT(*) FROM chat WHERE guid NOT LIKE 'any;%'") == "0",
                      c.newest)
                << c.name;
            // The store's triggers recorded what was deleted.
            EXPECT_NE(store.value("SELECT COUNT(*) FROM deleted_messages"), "0") << c.name;
        }
        // Kinds the era cannot hold are left out, the others written.
        EXPECT_EQ(summary.counts.edited > 0, c.edits) << c.name;
        EXPECT_EQ(summary.counts.unsent > 0, c.edits) << c.name;
        EXPECT_EQ(summary.counts.recentlyDeleted > 0, c.edits) << c.name;
        EXPECT_EQ(summary.counts.threadReplies > 0, c.messageDate) << c.name;
        EXPECT_GT(summary.counts.tapbacks, 0) << c.name;
        EXPECT_GT(summary.counts.deleted, 0) << c.name;
        EXPECT_GT(summary.counts.attachments, 0) << c.name;

        // Today's reader reads every era, and so does an appended pass.
        const auto before = readAll(path);
        EXPECT_GT(before.size(), static_cast<size_t>(summary.messages / 2)) << c.name;
        const auto added = appendSampleMessages(path, 20, 5);
        EXPECT_EQ(added.era, c.era) << c.name;
        DatabaseProbe store(path);
        EXPECT_EQ(std::stoll(store.value("SELECT MAX(date) FROM message")) < 10000000000LL,
                  c.seconds)
            << c.name;
        EXPECT_EQ(store.value("SELECT COUNT(*) FROM message a JOIN message b ON b.ROWID = "
                              "a.ROWID + 1 WHERE b.date < a.date"),
                  "0")
            << c.name;
    }
}

// What the summary says of a store with everything real stores hold is what
// the store holds.
TEST_F(SampleStoreTest, TheSummaryDescribesTheRealContentWritten) {
    const std::string path = dir_.file("chat.db");
    SampleStoreOptions options;
    options.messageCount = 1500;
    options.content = RealStoreContent::everything();
    options.attachmentHome = dir_.file("home");
    const auto summary = buildSampleStore(path, options);
    DatabaseProbe store(path);
    auto exists = [&store](const std::string& guid) {
        return store.value("SELECT COUNT(*) FROM message WHERE guid = " + q(guid)) == "1";
    };
    auto chatsOf = [&store](const std::string& guid) {
        return store.value("SELECT COUNT(*) FROM chat_message_join j JOIN message m ON m.ROWID = "
                           "j.message_id WHERE m.guid = " +
                           q(guid));
    };

    // Reactions point at messages of the store and quote them.
    ASSERT_FALSE(summary.reactionRows.empty());
    std::set<int64_t> types;
    for (const auto& r : summary.reactionRows) {
        ASSERT_EQ(exists(r.guid), !r.rowDeleted) << r.guid;
        ASSERT_TRUE(exists(r.targetGuid)) << r.guid;
        types.insert(r.associatedType);
        if (r.rowDeleted) {
            EXPECT_EQ(
                store.value("SELECT COUNT(*) FROM deleted_messages WHERE guid = " + q(r.guid)),
                "1");
            continue;
        }
        const auto row = store.rows("SELECT associated_message_type, associated_message_guid, "
                                    "text FROM message WHERE guid = " +
                                    q(r.guid))[0];
        EXPECT_EQ(row[0], std::to_string(r.associatedType));
        const auto target = core::reactionTargetFromAssociatedGuid(row[1]);
        if (r.associatedType == 0) { // sent by SMS as text
            EXPECT_EQ(row[1], "NULL");
        } else {
            ASSERT_TRUE(target) << row[1];
            EXPECT_EQ(target->guid, r.targetGuid);
        }
        const auto textForm = core::parseReactionText(row[2]);
        if (textForm) {
            EXPECT_TRUE(core::reactionQuoteMatches(
                textForm->quoted, core::withoutPlaceholders(*textOf(store, r.targetGuid))))
                << row[2];
        }
    }
    for (int64_t type : {0, 1000, 2000, 2001, 2003, 2004, 2005, 2006, 2007, 3004, 3005, 4000}) {
        EXPECT_EQ(types.count(type), 1u) << type;
    }
    for (const char* form : {"p:0/%", "p:1/%", "bp:%"}) {
        EXPECT_NE(store.value("SELECT COUNT(*) FROM message WHERE associated_message_guid LIKE " +
                              q(form)),
                  "0")
            << form;
    }
    EXPECT_NE(
        store.value("SELECT COUNT(*) FROM message WHERE length(associated_message_guid) = 36"),
        "0");
    // A reaction stands when the last row of its sender, kind and target is
    // not a removal.
    std::map<std::string, int64_t> last;
    for (const auto& r : summary.reactionRows) {
        last[r.targetGuid + "|" + r.sender + "|" + r.kind] = r.associatedType;
    }
    size_t standing = 0;
    for (const auto& [key, type] : last) {
        standing += (type >= 3000 && type < 4000) ? 0 : 1;
    }
    EXPECT_EQ(summary.currentReactions.size(), standing);
    for (const auto& r : summary.currentReactions) {
        EXPECT_EQ(last[r.targetGuid + "|" + r.sender + "|" + r.kind], r.associatedType) << r.guid;
    }
    for (const auto& guid : summary.lookalikeGuids) {
        EXPECT_TRUE(core::parseReactionText(*textOf(store, guid))) << guid;
        EXPECT_EQ(
            store.value("SELECT associated_message_type FROM message WHERE guid = " + q(guid)),
            "0");
    }
    EXPECT_GE(summary.lookalikeGuids.size(), 2u);

    // Renamed chats carry their last name; events are rows of their own.
    ASSERT_FALSE(summary.chatTitles.empty());
    for (const auto& [chat, title] : summary.chatTitles) {
        EXPECT_EQ(store.value("SELECT display_name FROM chat WHERE guid = " + q(chat)), title);
    }
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM message WHERE item_type != 0"),
              std::to_string(summary.groupEventGuids.size()));

    // Attachments, in order, one per placeholder of the text unless hidden.
    ASSERT_FALSE(summary.attachmentMessages.empty());
    std::set<std::string> kinds;
    for (const auto& m : summary.attachmentMessages) {
        const auto rows = store.rows(
            "SELECT a.guid, a.filename FROM attachment a JOIN message_attachment_join j ON "
            "j.attachment_id = a.ROWID JOIN message m ON m.ROWID = j.message_id WHERE m.guid = " +
            q(m.guid) + " ORDER BY a.ROWID");
        if (rows.empty()) { // a message removed since
            continue;
        }
        ASSERT_EQ(rows.size(), m.attachments.size()) << m.guid;
        size_t shown = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& a = m.attachments[i];
            EXPECT_EQ(rows[i][0], a.guid);
            EXPECT_EQ(rows[i][1] != "NULL", a.downloaded) << a.guid;
            if (a.onDisk) {
                EXPECT_TRUE(std::filesystem::exists(dir_.file("home") + rows[i][1].substr(1)))
                    << rows[i][1];
            }
            shown += a.hidden ? 0 : 1;
            kinds.insert(a.kind);
        }
        // The text column, else the body (whose only U+FFFC are in its text).
        const std::string raw =
            core::decodeHex(store.value("SELECT CASE WHEN text IS NULL THEN hex(attributedBody) "
                                        "ELSE hex(text) END FROM message WHERE guid = " +
                                        q(m.guid)))
                .value_or("");
        size_t placeholders = 0;
        for (size_t at = raw.find("\xEF\xBF\xBC"); at != std::string::npos;
             at = raw.find("\xEF\xBF\xBC", at + 1)) {
            ++placeholders;
        }
        EXPECT_EQ(placeholders, shown) << m.guid;
        EXPECT_EQ(core::withoutPlaceholders(textOf(store, m.guid).value_or("")), m.text) << m.guid;
    }
    for (const char* kind :
         {"photo", "video", "voice message", "audio", "pdf", "contact card", "location", "file"}) {
        EXPECT_EQ(kinds.count(kind), 1u) << kind;
    }
    EXPECT_NE(store.value("SELECT COUNT(*) FROM attachment WHERE filename IS NULL"), "0");
    EXPECT_NE(store.value("SELECT COUNT(*) FROM attachment WHERE mime_type IS NULL"), "0");
    EXPECT_NE(store.value("SELECT COUNT(*) FROM attachment WHERE hide_attachment = 1"), "0");
    EXPECT_NE(store.value("SELECT COUNT(*) FROM message WHERE is_audio_message = 1"), "0");

    // Edits: the history holds every version, the current one last.
    ASSERT_GE(summary.edits.size(), 4u);
    for (const auto& e : summary.edits) {
        auto info = core::MessageSummaryInfo::parse(
            blob(path, "SELECT message_summary_info FROM message WHERE guid = " + q(e.guid)));
        ASSERT_TRUE(info) << e.guid;
        ASSERT_EQ(info->editedParts().size(), 1u);
        const auto& history = info->editedParts()[0].history;
        EXPECT_EQ(static_cast<int>(history.size()), e.versions);
        EXPECT_EQ(history.front().text, e.originalText);
        EXPECT_EQ(info->currentText(0), e.currentText);
        EXPECT_EQ(textOf(store, e.guid), e.currentTextOnlyInHistory
                                             ? std::nullopt
                                             : std::optional<std::string>(e.currentText));
        EXPECT_EQ(store.value("SELECT date_edited FROM message WHERE guid = " + q(e.guid)),
                  e.dateEditedStamped ? std::to_string(e.editedAt) : "0");
    }

    // Removed messages are out of every chat (an unsent one stays, emptied),
    // and their words out of every message in one.
    std::set<Removal> ways;
    for (const auto& r : summary.removed) {
        ways.insert(r.how);
        EXPECT_EQ(chatsOf(r.guid), r.how == Removal::Unsent ? "1" : "0") << r.guid;
        switch (r.how) {
        case Removal::Unsent:
            EXPECT_EQ(store.value("SELECT COUNT(*) FROM message WHERE text IS NULL AND "
                                  "attributedBody IS NULL AND part_count = 0 AND date_edited > 0 "
                                  "AND guid = " +
                                  q(r.guid)),
                      "1");
            break;
        case Removal::RecentlyDeleted:
        case Removal::ChatRecentlyDeleted:
            EXPECT_NE(store.value("SELECT COUNT(*) FROM chat_recoverable_message_join r JOIN "
                                  "message m ON m.ROWID = r.message_id WHERE m.guid = " +
                                  q(r.guid)),
                      "0");
            break;
        case Removal::Deleted:
        case Removal::ChatDeleted:
            EXPECT_FALSE(exists(r.guid));
            EXPECT_EQ(
                store.value("SELECT COUNT(*) FROM deleted_messages WHERE guid = " + q(r.guid)),
                "1");
            break;
        }
        if (r.word) {
            EXPECT_EQ(store.value("SELECT COUNT(*) FROM message m JOIN chat_message_join j ON "
                                  "j.message_id = m.ROWID WHERE m.text LIKE " +
                                  q("%" + *r.word + "%") + " OR instr(m.attributedBody, CAST(" +
                                  q(*r.word) + " AS BLOB)) > 0"),
                      "0")
                << *r.word;
        }
    }
    EXPECT_EQ(ways.size(), 5u);
    ASSERT_FALSE(summary.restored.empty());
    for (const auto& r : summary.restored) {
        EXPECT_EQ(chatsOf(r.guid), "1");
        EXPECT_NE(textOf(store, r.guid)->find(*r.word), std::string::npos);
    }

    // Junk and blocked chats, thread replies, one person's handles, a
    // message in two chats.
    for (const auto& chat : summary.junkChatGuids) {
        EXPECT_EQ(store.value("SELECT is_filtered FROM chat WHERE guid = " + q(chat)), "2");
    }
    for (const auto& chat : summary.blockedChatGuids) {
        EXPECT_EQ(store.value("SELECT is_blackholed FROM chat WHERE guid = " + q(chat)), "1");
    }
    EXPECT_EQ(summary.junkMessageGuids.size(), 5u);
    for (const auto& guid : summary.spamMessageGuids) {
        EXPECT_EQ(store.value("SELECT is_spam FROM message WHERE guid = " + q(guid)), "1");
    }
    ASSERT_FALSE(summary.threadReplies.empty());
    for (const auto& r : summary.threadReplies) {
        EXPECT_EQ(
            store.value("SELECT thread_originator_guid FROM message WHERE guid = " + q(r.guid)),
            r.originatorGuid);
    }
    ASSERT_EQ(summary.personHandles.size(), 1u);
    const auto& [person, handles] = *summary.personHandles.begin();
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM handle WHERE person_centric_id = " + q(person)),
              std::to_string(handles.size()));
    EXPECT_EQ(
        store.value("SELECT COUNT(DISTINCT service) FROM handle WHERE id = " + q(handles.front())),
        "2");
    ASSERT_TRUE(summary.twoChats);
    EXPECT_EQ(chatsOf(summary.twoChats->guid), "2");
    EXPECT_EQ(store.value("SELECT COUNT(*) FROM message"), std::to_string(summary.messageRows));
}

// Every table's rows, for comparing two stores.
std::vector<std::vector<std::string>> dump(const std::string& path) {
    DatabaseProbe store(path);
    std::vector<std::vector<std::string>> all;
    for (
        const char* sql :
        {"SELECT ROWID, guid, text, hex(attributedBody), date, handle_id, is_from_me, item_type, "
         "associated_message_guid, associated_message_type, hex(message_summary_info), "
         "date_edited, date_retracted, part_count, is_empty, cache_has_attachments, "
         "cache_roomnames FROM message ORDER BY ROWID",
         "SELECT * FROM chat_message_join ORDER BY chat_id, message_id",
         "SELECT chat_id, message_id, delete_date FROM chat_recoverable_message_join ORDER BY 1, 2",
         "SELECT chat_id, message_id, hex(part_text) FROM recoverable_message_part ORDER BY 1, 2",
         "SELECT guid FROM deleted_messages ORDER BY 1", "SELECT * FROM attachment ORDER BY ROWID",
         "SELECT * FROM message_attachment_join ORDER BY 1, 2", "SELECT * FROM chat ORDER BY ROWID",
         "SELECT * FROM handle ORDER BY ROWID", "SELECT * FROM chat_handle_join ORDER BY 1, 2"}) {
        for (auto& row : store.rows(sql)) {
            all.push_back(std::move(row));
        }
    }
    return all;
}

TEST_F(SampleStoreTest, DeferredChangesMadeLaterGiveTheSameStore) {
    SampleStoreOptions options;
    options.messageCount = 800;
    options.content = RealStoreContent::everything();
    const auto now = buildSampleStore(dir_.file("now.db"), options);
    options.deferChanges = true;
    const std::string path = dir_.file("later.db");
    const auto later = buildSampleStore(path, options);
    EXPECT_TRUE(now.pendingChanges.empty());
    ASSERT_FALSE(later.pendingChanges.empty());

    // Before the changes, the removed messages are there with their words,
    // and the edited ones with their first text.
    {
        DatabaseProbe store(path);
        for (const auto& r : later.removed) {
            if (r.word) {
                EXPECT_NE(textOf(store, r.guid)->find(*r.word), std::string::npos) << *r.word;
            }
        }
        for (const auto& e : later.edits) {
            EXPECT_EQ(textOf(store, e.guid), e.originalText);
        }
    }
    applyStoreChanges(path, later.pendingChanges);
    EXPECT_EQ(dump(path), dump(dir_.file("now.db")));
}

TEST_F(SampleStoreTest, RealContentLeavesThePlainMessagesAsTheyWere) {
    SampleStoreOptions options;
    options.messageCount = 600;
    buildSampleStore(dir_.file("plain.db"), options);
    options.content = RealStoreContent::everything();
    options.deferChanges = true;
    buildSampleStore(dir_.file("real.db"), options);
    const std::string sql = "SELECT guid, text, hex(attributedBody), is_from_me, handle_id, "
                            "service FROM message WHERE guid IN (SELECT guid FROM plain.message)";
    DatabaseProbe real(dir_.file("real.db"));
    real.exec("ATTACH DATABASE " + q(dir_.file("plain.db")) + " AS plain");
    EXPECT_EQ(real.value("SELECT COUNT(*) FROM (" + sql + ")"), "600");
    EXPECT_EQ(real.value("SELECT COUNT(*) FROM (SELECT guid, text, hex(attributedBody), "
                         "is_from_me, handle_id, service FROM plain.message EXCEPT " +
                         sql + ")"),
              "0");
}

} // namespace
} // namespace orlune::samplestore
