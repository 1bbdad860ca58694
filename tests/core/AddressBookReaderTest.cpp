// The person's address books as files: every source read, only contact
// records kept, nothing created beside the books, and a book that cannot be
// read reported and skipped.

#include "contacts/AddressBookReader.hpp"

#include "contacts/ContactSources.hpp"
#include "sql/SQLite.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"

#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::core {
namespace {

namespace fs = std::filesystem;
using samplestore::AddressBookContact;
using samplestore::AddressBookWriter;
using ::testing::ElementsAre;
using testing::FakeEnvironment;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::TempDir;

// A card as one line, for comparing whole lists.
std::string describe(const ContactCard& card) {
    std::string line = std::to_string(card.sourceIndex) + " " + card.firstName + "|" +
                       card.middleName + "|" + card.lastName + "|" + card.organization + "|";
    for (const auto& nickname : card.nicknames) {
        line += nickname + ";";
    }
    line += "|";
    for (const auto& phone : card.phones) {
        line += phone + ";";
    }
    line += "|";
    for (const auto& email : card.emails) {
        line += email + ";";
    }
    return line;
}

std::vector<std::string> describe(const std::vector<ContactCard>& cards) {
    std::vector<std::string> lines;
    for (const auto& card : cards) {
        lines.push_back(describe(card));
    }
    return lines;
}

// Every file under a folder with its size and bytes.
std::map<std::string, std::string> filesUnder(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).string()] =
                testing::readFile(entry.path().string());
        }
    }
    return files;
}

class AddressBookReaderTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeEnvironment environment;
    std::string folder = (dir.path() / "Library/Application Support/AddressBook").string();

    void SetUp() override { environment.home = dir.path().string(); }

    // The person's books: the top-level one (entity 22) and an iCloud
    // account's (entity 19, as an older version numbers it), each with a
    // group and a container record beside the contacts; an account folder
    // without a book yet.
    void writeTwoSources() {
        {
            AddressBookWriter book(AddressBookWriter::bookPath(folder));
            book.addContainer("On My Mac");
            book.addContact({.firstName = "Jess",
                             .lastName = "Day",
                             .phones = {"(555) 010-0001"},
                             .emails = {"Jess.Day@Example.com"}});
            book.addGroup("Family");
            book.addContact({.organization = "Acme Plumbing", .phones = {"555.010.0099"}});
        }
        {
            AddressBookWriter book(AddressBookWriter::bookPath(folder, "9C4E-ICLOUD"),
                                   {.contactEntity = 19});
            book.addGroup("Work");
            book.addContact({.firstName = "Jessica",
                             .lastName = "Day",
                             .nickname = "Jess",
                             .phones = {"+1 555 010 0001", "555 010 0077"}});
            book.addContainer("iCloud");
            book.addContact({.firstName = "Carol",
                             .lastName = "Day",
                             .middleName = "Ann",
                             .nickname = "Mom",
                             .phones = {"555.010.0002"}});
        }
        fs::create_directories(fs::path(folder) / "Sources" / "0EMPTY-ACCOUNT");
    }
};

TEST_F(AddressBookReaderTest, EverySourceIsReadWithItsContactsOnlyAndNothingBesideTheBooks) {
    writeTwoSources();
    const auto before = filesUnder(folder);

    const ContactScan scan = AddressBookReader::readAll(environment);

    EXPECT_THAT(scan.warnings, IsEmpty());
    EXPECT_THAT(describe(scan.cards),
                ElementsAre("0 Jess||Day|||(555) 010-0001;|Jess.Day@Example.com;",
                            "0 |||Acme Plumbing||555.010.0099;|",
                            "1 Jessica||Day||Jess;|+1 555 010 0001;555 010 0077;|",
                            "1 Carol|Ann|Day||Mom;|555.010.0002;|"));
    for (const ContactCard& card : scan.cards) {
        EXPECT_THAT(card.uid, HasSubstr(":ABPerson"));
        EXPECT_THAT(card.source, HasSubstr("AddressBook-v22.abcddb"));
    }
    EXPECT_EQ(filesUnder(folder), before);
}

TEST_F(AddressBookReaderTest, TheFolderComesFromTheOverrideWhichMayNameOneBook) {
    writeTwoSources();
    const fs::path moved = dir.path() / "elsewhere";
    fs::rename(folder, moved);
    environment.variables[AddressBookReader::kFolderOverride] = moved.string();
    EXPECT_EQ(AddressBookReader::readAll(environment).cards.size(), 4u);

    environment.variables[AddressBookReader::kFolderOverride] =
        (moved / "Sources/9C4E-ICLOUD/AddressBook-v22.abcddb").string();
    const ContactScan one = AddressBookReader::readAll(environment);
    EXPECT_THAT(describe(one.cards),
                ElementsAre("0 Jessica||Day||Jess;|+1 555 010 0001;555 010 0077;|",
                            "0 Carol|Ann|Day||Mom;|555.010.0002;|"));
}

TEST_F(AddressBookReaderTest, ContactsCommittedOnlyToTheWalAreRead) {
    const std::string path = AddressBookWriter::bookPath(folder);
    AddressBookWriter book(path);
    book.execute("PRAGMA wal_autocheckpoint = 0");
    book.addContact({.firstName = "Priya", .phones = {"+44 20 7946 0958"}});
    ASSERT_TRUE(fs::exists(path + "-wal"));
    const std::string wal = testing::readFile(path + "-wal");

    const auto cards = AddressBookReader::readBook(path, 0);

    EXPECT_THAT(describe(cards), ElementsAre("0 Priya|||||+44 20 7946 0958;|"));
    EXPECT_EQ(testing::readFile(path + "-wal"), wal);
}

// A book that cannot be read is one warning naming it and why; the other
// books are read as usual.
TEST_F(AddressBookReaderTest, ABookThatCannotBeReadIsReportedAndSkipped) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* reason;
    };
    std::unique_ptr<AddressBookWriter> holder; // keeps a lock for the locked case
    const Case cases[] = {
        {"locked by the Contacts app",
         [&](const std::string& path) {
             holder = std::make_unique<AddressBookWriter>(
                 path, AddressBookWriter::Options{.walMode = false});
             holder->addContact({.firstName = "Hidden"});
             holder->execute("BEGIN EXCLUSIVE");
         },
         "locked"},
        {"not a database",
         [](const std::string& path) { testing::writeFile(path, std::string(4096, 'x')); },
         "not an SQLite database"},
        {"some other SQLite file",
         [](const std::string& path) {
             sqlite::Connection db;
             ASSERT_EQ(db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
             db.exec("CREATE TABLE notes (body TEXT)");
         },
         "no Z_PRIMARYKEY table"},
        {"a Core Data file of another kind",
         [](const std::string& path) {
             AddressBookWriter book(path);
             book.execute("DELETE FROM Z_PRIMARYKEY WHERE Z_NAME = 'ABCDContact'");
         },
         "no ABCDContact entity"},
    };
    for (const Case& c : cases) {
        TempDir caseDir;
        environment.home = caseDir.path().string();
        const std::string caseFolder =
            (caseDir.path() / "Library/Application Support/AddressBook").string();
        {
            AddressBookWriter good(AddressBookWriter::bookPath(caseFolder));
            good.addContact({.firstName = "Alex", .emails = {"alex.k@example.com"}});
        }
        const std::string bad = AddressBookWriter::bookPath(caseFolder, "BAD-ACCOUNT");
        c.make(bad);

        const ContactScan scan = AddressBookReader::readAll(environment);

        EXPECT_THAT(describe(scan.cards), ElementsAre("0 Alex||||||alex.k@example.com;")) << c.what;
        ASSERT_EQ(scan.warnings.size(), 1u) << c.what;
        EXPECT_THAT(scan.warnings[0], HasSubstr("Address book " + bad + " could not be read"))
            << c.what;
        EXPECT_THAT(scan.warnings[0], HasSubstr(c.reason)) << c.what;
        holder.reset();
    }
}

TEST_F(AddressBookReaderTest, AMissingFolderIsSilentUnlessItWasNamed) {
    ContactScan scan = AddressBookReader::readAll(environment);
    EXPECT_THAT(scan.cards, IsEmpty());
    EXPECT_THAT(scan.warnings, IsEmpty());

    environment.variables[AddressBookReader::kFolderOverride] = dir.file("no-such-folder");
    scan = AddressBookReader::readAll(environment);
    EXPECT_THAT(scan.cards, IsEmpty());
    ASSERT_EQ(scan.warnings.size(), 1u);
    EXPECT_THAT(scan.warnings[0], HasSubstr("no-such-folder"));

    EXPECT_THROW(AddressBookReader::readBook(dir.file("missing.abcddb"), 0),
                 AddressBookReader::Error);
}

// A book another program holds locked (the Contacts app saving) is waited
// for briefly, then skipped with a warning that says so; once free it reads.
TEST_F(AddressBookReaderTest, ALockedBookIsAWarningSayingSoAndReadsOnceFree) {
    writeTwoSources();
    const std::string book = AddressBookWriter::bookPath(folder);
    for (const char* journal : {"DELETE", "WAL"}) {
        SCOPED_TRACE(journal);
        sqlite::Connection holder;
        ASSERT_EQ(holder.open(book, SQLITE_OPEN_READWRITE), SQLITE_OK);
        sqlite::exec(holder.get(), std::string("PRAGMA journal_mode = ") + journal);
        sqlite::exec(holder.get(), "BEGIN EXCLUSIVE");
        sqlite::exec(holder.get(), "UPDATE ZABCDRECORD SET ZFIRSTNAME = ZFIRSTNAME");

        ContactScan scan = AddressBookReader::readAll(environment);
        if (std::string(journal) == "DELETE") {
            ASSERT_EQ(scan.warnings.size(), 1u);
            EXPECT_EQ(scan.warnings[0], "Address book " + book +
                                            " could not be read: it is locked by another program "
                                            "(the Contacts app saving?); it is read again at the "
                                            "next sync");
            EXPECT_EQ(scan.cards.size(), 2u) << "the other book is read";
        } else {
            // In WAL mode a writer does not hold readers off.
            EXPECT_THAT(scan.warnings, IsEmpty());
            EXPECT_EQ(scan.cards.size(), 4u);
        }

        sqlite::exec(holder.get(), "COMMIT");
        scan = AddressBookReader::readAll(environment);
        EXPECT_THAT(scan.warnings, IsEmpty());
        EXPECT_EQ(scan.cards.size(), 4u);
    }
}

TEST_F(AddressBookReaderTest, VCardFilesFollowTheBooksAndAnUnreadableOneIsAWarning) {
    writeTwoSources();
    const std::string vcf = dir.file("exported.vcf");
    testing::writeFile(vcf, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Sam Lee\r\nN:Lee;Sam;;;\r\n"
                            "TEL:+1 555 010 0055\r\nEND:VCARD\r\n");

    // A pipe named as a vCard file is skipped at once, not waited on.
    ASSERT_EQ(::mkfifo(dir.file("pipe.vcf").c_str(), 0600), 0);

    const ContactScan scan =
        readContactSources(environment, {dir.file("missing.vcf"), dir.file("pipe.vcf"), vcf});

    ASSERT_EQ(scan.cards.size(), 5u);
    EXPECT_EQ(describe(scan.cards.back()), "4 Sam||Lee|||+1 555 010 0055;|");
    ASSERT_EQ(scan.warnings.size(), 2u);
    EXPECT_THAT(scan.warnings[0], HasSubstr("missing.vcf"));
    EXPECT_THAT(scan.warnings[1], HasSubstr("pipe.vcf could not be read: it is not a regular"));
}

} // namespace
} // namespace orlune::core
