// The people, person_handles and chats tables a sync keeps: names from the
// address books and vCard files, chat titles, refreshes when something
// changed, and contact sources that cannot be read.

#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using samplestore::AddressBookWriter;
using testing::DatabaseProbe;
using testing::FakeEnvironment;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using testing::TempDir;

class PeopleSyncTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeEnvironment environment;
    std::string storePath = dir.file("chat.db");
    std::string shadowPath = dir.file("shadow.db");
    std::string books = dir.file("AddressBook");

    void SetUp() override {
        environment.home = dir.path().string();
        environment.variables["ADDRESS_BOOK_PATH"] = books;
        environment.variables["LANG"] = "en_US.UTF-8";
        testing::writePeopleStore(storePath);
        testing::writePeopleBooks(books);
    }

    ShadowSync engine() { return ShadowSync(storePath, shadowPath, environment); }

    std::string value(const std::string& sql) { return DatabaseProbe(shadowPath).value(sql); }
    std::string titleOf(const std::string& chatId) {
        return value("SELECT title FROM chats WHERE chat_id = '" + chatId + "'");
    }
    std::string nameOfHandle(const std::string& handle) {
        return value("SELECT p.display_name FROM person_handles h JOIN people p USING "
                     "(person_id) WHERE h.handle = '" +
                     handle + "'");
    }
};

TEST_F(PeopleSyncTest, HandlesGetTheirPeopleAndChatsTheirTitles) {
    ShadowSync sync = engine();
    sync.performSync();
    EXPECT_THAT(sync.contactWarnings(), IsEmpty());

    DatabaseProbe probe(shadowPath);
    // Alex is in both books; the group and the container record are not
    // people.
    EXPECT_EQ(probe.rows("SELECT display_name FROM people ORDER BY display_name"),
              (std::vector<std::vector<std::string>>{
                  {"Acme Plumbing"}, {"Alex Kim"}, {"Chloé Martin"}, {"Jess Day"}, {"Sam Lee"}}));
    const struct {
        const char* handle;
        const char* name;
    } handles[] = {
        {"+15550100001", "Alex Kim"},      {"alex.k@example.com", "Alex Kim"},
        {"+15550100002", "Jess Day"},      {"+15550100003", "Chloé Martin"},
        {"+15550100005", "Acme Plumbing"}, {"+15550100009", "<no row>"},
    };
    for (const auto& c : handles) {
        EXPECT_EQ(nameOfHandle(c.handle), c.name) << c.handle;
    }
    EXPECT_EQ(probe.value("SELECT nicknames FROM people WHERE first_name = 'Jess'"),
              "[\"Jessie\"]");

    const struct {
        const char* chat;
        const char* title;
    } chats[] = {
        {"iMessage;-;+15550100001", "Alex Kim"},
        {"iMessage;+;chat100", "Alex, Jess and 3 others"},
        {"iMessage;+;chat200", "Ski trip"},
        {"iMessage;-;+15550100009", "+15550100009"},
        {"iMessage;-;+15550100005", "Acme Plumbing"},
    };
    for (const auto& c : chats) {
        EXPECT_EQ(titleOf(c.chat), c.title) << c.chat;
    }
    EXPECT_EQ(probe.value("SELECT is_group FROM chats WHERE chat_id = 'iMessage;+;chat200'"), "1");
}

TEST_F(PeopleSyncTest, TheNamedViewGivesEachMessageItsSenderAndChat) {
    engine().performSync();
    const auto rows = DatabaseProbe(shadowPath)
                          .rows("SELECT guid, sender, sender_name, chat_title FROM "
                                "messages_named ORDER BY rowid");
    // The sender column keeps the handle; your own messages and handles of
    // no card have no name.
    std::map<std::string, std::vector<std::string>> byGuid;
    for (const auto& row : rows) {
        byGuid[row[0]] = {row[1], row[2], row[3]};
    }
    using Row = std::vector<std::string>;
    EXPECT_EQ(byGuid["m1"], (Row{"+15550100001", "Alex Kim", "Alex Kim"}));
    EXPECT_EQ(byGuid["m2"], (Row{"me", "NULL", "Alex Kim"}));
    EXPECT_EQ(byGuid["m5"], (Row{"+15550100009", "NULL", "+15550100009"}));
    EXPECT_EQ(byGuid["m6"], (Row{"alex.k@example.com", "Alex Kim", "Ski trip"}));
    EXPECT_EQ(byGuid["m4"], (Row{"+15550100003", "Chloé Martin", "Alex, Jess and 3 others"}));
}

TEST_F(PeopleSyncTest, ARefreshHappensWhenTheStoreOrABookChangesAndOnlyThen) {
    engine().performSync();
    // A mark that only a refresh would overwrite.
    DatabaseProbe(shadowPath).exec("UPDATE people SET display_name = 'marked'");
    engine().performSync();
    EXPECT_EQ(value("SELECT count(*) FROM people WHERE display_name = 'marked'"), "5")
        << "nothing changed, nothing written";

    {
        samplestore::ChatStoreWriter store(storePath, samplestore::ChatStoreWriter::OpenExisting{});
        store.renameChat(2, "Book club");
    }
    engine().performSync();
    EXPECT_EQ(titleOf("iMessage;+;chat100"), "Book club");
    EXPECT_EQ(value("SELECT count(*) FROM people WHERE display_name = 'marked'"), "0");

    {
        AddressBookWriter book(AddressBookWriter::bookPath(books, "work"));
        book.addContact({.firstName = "Pat", .lastName = "Doe", .phones = {"555-010-0009"}});
    }
    engine().performSync();
    EXPECT_EQ(titleOf("iMessage;-;+15550100009"), "Pat Doe");
}

TEST_F(PeopleSyncTest, AVCardFileNamesPeopleTheBooksDoNot) {
    const std::string card = dir.file("pat.vcf");
    testing::writeFile(card, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Pat Doe\r\nN:Doe;Pat;;;\r\n"
                             "TEL;TYPE=CELL:+1 555 010 0009\r\nEND:VCARD\r\n");
    ShadowSync sync = engine();
    sync.setContactFiles({card, dir.file("missing.vcf")});
    sync.performSync();
    EXPECT_EQ(nameOfHandle("+15550100009"), "Pat Doe");
    ASSERT_THAT(sync.contactWarnings(), SizeIs(1));
    EXPECT_THAT(sync.contactWarnings()[0], HasSubstr("missing.vcf"));
}

TEST_F(PeopleSyncTest, ABookThatCannotBeReadIsReportedSkippedAndTriedAgain) {
    const std::string icloud = AddressBookWriter::bookPath(books, "icloud");
    {
        // Locked: the owner holds an exclusive lock on a rollback-journal book.
        std::filesystem::remove(icloud);
        std::filesystem::remove(icloud + "-wal");
        std::filesystem::remove(icloud + "-shm");
        AddressBookWriter holder(icloud, AddressBookWriter::Options{.walMode = false});
        holder.addContact({.firstName = "Jess", .lastName = "Day", .phones = {"555.010.0002"}});
        holder.execute("BEGIN EXCLUSIVE");
        holder.execute("UPDATE ZABCDRECORD SET ZNICKNAME = 'J'");

        ShadowSync sync = engine();
        EXPECT_NO_THROW(sync.performSync());
        ASSERT_THAT(sync.contactWarnings(), SizeIs(1));
        EXPECT_THAT(sync.contactWarnings()[0], HasSubstr(icloud));
        EXPECT_EQ(nameOfHandle("+15550100001"), "Alex Kim") << "the other book is read";
        EXPECT_EQ(nameOfHandle("+15550100002"), "<no row>");
        EXPECT_EQ(value("SELECT count(*) FROM messages"), "10");
    }
    // Unlocked and unchanged since: read at the next pass all the same.
    ShadowSync sync = engine();
    sync.performSync();
    EXPECT_THAT(sync.contactWarnings(), IsEmpty());
    EXPECT_EQ(nameOfHandle("+15550100002"), "Jess Day");

    // Damaged: not an SQLite file at all.
    testing::writeFile(AddressBookWriter::bookPath(books), std::string(4096, 'x'));
    sync.performSync();
    ASSERT_THAT(sync.contactWarnings(), SizeIs(1));
    EXPECT_THAT(sync.contactWarnings()[0], HasSubstr("not an SQLite database"));
    EXPECT_EQ(nameOfHandle("+15550100002"), "Jess Day");
}

} // namespace
} // namespace orlune::core
