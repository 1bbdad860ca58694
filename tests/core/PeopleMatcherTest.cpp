// Handles of the messaging store matched to the people of the address books.

#include "contacts/PeopleMatcher.hpp"

#include "contacts/AddressBookReader.hpp"
#include "contacts/AddressKey.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>

namespace orlune::core {
namespace {

using samplestore::AddressBookWriter;
using ::testing::ElementsAre;
using testing::FakeEnvironment;
using ::testing::IsEmpty;
using testing::TempDir;

// handle id (and service) -> display name of its person; handles without a
// person are absent.
std::map<std::string, std::string> namesByHandle(const People& people,
                                                 const std::vector<HandleRecord>& handles) {
    std::map<std::string, std::string> names;
    for (const HandleLink& link : people.links) {
        for (const HandleRecord& handle : handles) {
            if (handle.rowid == link.handleRowid) {
                names[handle.id + " " + handle.service] = people.people[link.person].displayName;
            }
        }
    }
    return names;
}

ContactCard card(int source, std::string first, std::string last, std::vector<std::string> phones,
                 std::vector<std::string> emails = {}, std::string uid = "") {
    ContactCard c;
    c.sourceIndex = source;
    c.firstName = std::move(first);
    c.lastName = std::move(last);
    c.phones = std::move(phones);
    c.emails = std::move(emails);
    c.uid = uid.empty() ? c.firstName + c.lastName + std::to_string(source) : std::move(uid);
    return c;
}

TEST(AddressKeys, NumbersAsPeopleWriteThemMeetTheirHandle) {
    struct Case {
        const char* address;
        const char* region;
        const char* exact;
    };
    const Case cases[] = {
        {"(555) 010-0001", "US", "p:+15550100001"},
        {"555.010.0001", "US", "p:+15550100001"},
        {"+1 555 010 0001", "GB", "p:+15550100001"},
        {"+15550100001", "us", "p:+15550100001"},
        {"020 7946 0958", "GB", "p:+442079460958"},
        // Too short to place: only the same digits meet.
        {"010-0001", "US", "d:0100001"},
        {"26 29 66", "US", "d:262966"},
        {"5550100001", "", "d:5550100001"},
        {"Jess.Day@Example.COM", "US", "e:jess.day@example.com"},
        {"urn:biz:5f1d8a", "US", "x:urn:biz:5f1d8a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(addressKey(c.address, c.region).exact, c.exact) << c.address << " " << c.region;
    }
}

// The person's real setup, end to end: two books with one person in both
// under different spellings, numbers typed three ways, an e-mail in other
// case, a company card, a handle with no card, and a person-centric group.
TEST(PeopleMatcherBooks, HandlesFindTheirPeopleThroughBothBooks) {
    TempDir dir;
    const std::string folder = dir.file("AddressBook");
    {
        AddressBookWriter book(AddressBookWriter::bookPath(folder));
        book.addContainer("On My Mac");
        // Seven digits: must not catch +1 555 010 0001 by its last digits.
        book.addContact({.firstName = "Old", .lastName = "Landline", .phones = {"010-0001"}});
        book.addContact({.firstName = "Jess",
                         .lastName = "Day",
                         .phones = {"(555) 010-0001"},
                         .emails = {"Jess.Day@Example.com"}});
        book.addGroup("Family");
        book.addContact({.organization = "Acme Plumbing", .phones = {"555.010.0099"}});
        book.addContact({.firstName = "Bank", .phones = {"26 29 66"}});
    }
    {
        AddressBookWriter book(AddressBookWriter::bookPath(folder, "ICLOUD"),
                               {.contactEntity = 19});
        book.addContact({.firstName = "Jessica",
                         .lastName = "Day",
                         .nickname = "Jess",
                         .phones = {"+1 555 010 0001", "555 010 0077"}});
        book.addContact({.firstName = "Carol",
                         .lastName = "Day",
                         .nickname = "Mom",
                         .phones = {"555.010.0002"}});
    }
    FakeEnvironment environment;
    environment.variables[AddressBookReader::kFolderOverride] = folder;
    const ContactScan scan = AddressBookReader::readAll(environment);
    ASSERT_THAT(scan.warnings, IsEmpty());

    const std::vector<HandleRecord> handles = {
        {1, "+15550100001", "iMessage", "us", "PC-JESS"},
        {2, "+15550100001", "SMS", "us", ""},
        {3, "jess.day@example.com", "iMessage", "", ""},
        {4, "+15550100077", "SMS", "us", ""},
        {5, "+15550100002", "iMessage", "us", ""},
        {6, "+15550100099", "SMS", "us", ""},
        {7, "+15550109999", "iMessage", "us", ""}, // no card
        {8, "jd.icloud@example.com", "iMessage", "", "PC-JESS"},
        {9, "262966", "SMS", "us", ""},
        {10, "0100001", "SMS", "us", ""},
    };
    const People people = matchPeople(scan.cards, handles, "US");

    EXPECT_EQ(namesByHandle(people, handles), (std::map<std::string, std::string>{
                                                  {"+15550100001 iMessage", "Jess Day"},
                                                  {"+15550100001 SMS", "Jess Day"},
                                                  {"jess.day@example.com iMessage", "Jess Day"},
                                                  {"+15550100077 SMS", "Jess Day"},
                                                  {"+15550100002 iMessage", "Carol Day"},
                                                  {"+15550100099 SMS", "Acme Plumbing"},
                                                  {"jd.icloud@example.com iMessage", "Jess Day"},
                                                  {"262966 SMS", "Bank"},
                                                  {"0100001 SMS", "Old Landline"},
                                              }));
    // One person for Jess across both books, named from the first book.
    std::vector<std::string> names;
    for (const Person& person : people.people) {
        names.push_back(person.displayName);
    }
    EXPECT_THAT(names,
                ElementsAre("Old Landline", "Jess Day", "Acme Plumbing", "Bank", "Carol Day"));
    const Person& jess = people.people[1];
    EXPECT_THAT(jess.nicknames, ElementsAre("Jess"));
    EXPECT_THAT(jess.otherNames, ElementsAre("Jessica Day"));
    EXPECT_EQ(people.people[2].organization, "Acme Plumbing");
    EXPECT_THAT(people.people[4].nicknames, ElementsAre("Mom"));
}

TEST(PeopleMatcherRules, CardsBecomeOnePersonOnlyAcrossSourcesOrByUid) {
    struct Case {
        const char* what;
        std::vector<ContactCard> cards;
        std::vector<std::string> people; // display names, in order
        std::map<std::string, std::string> handles;
    };
    const std::vector<HandleRecord> handles = {
        {1, "+15550100050", "SMS", "us", ""},
        {2, "+15550100051", "SMS", "us", ""},
        {3, "sam@example.com", "iMessage", "", ""},
    };
    const Case cases[] = {
        {"a landline on two cards of one book is two people; the first card gets it",
         {card(0, "Mum", "Lee", {"+1 555 010 0050"}), card(0, "Dad", "Lee", {"+1 555 010 0050"})},
         {"Mum Lee", "Dad Lee"},
         {{"+15550100050 SMS", "Mum Lee"}}},
        {"the same number in two books is one person",
         {card(0, "Sam", "Lee", {"+1 555 010 0050"}),
          card(1, "Samuel", "Lee", {"(555) 010-0050", "555 010 0051"})},
         {"Sam Lee"},
         {{"+15550100050 SMS", "Sam Lee"}, {"+15550100051 SMS", "Sam Lee"}}},
        {"the same uid is one person without a shared address",
         {card(0, "Sam", "Lee", {"+1 555 010 0050"}, {}, "UID-1"),
          card(1, "Sam", "Lee", {}, {"sam@example.com"}, "UID-1")},
         {"Sam Lee"},
         {{"+15550100050 SMS", "Sam Lee"}, {"sam@example.com iMessage", "Sam Lee"}}},
        {"a card without a name lends its addresses to the named card it joins",
         {card(0, "", "", {"+1 555 010 0050"}, {"Sam@Example.com"}),
          card(1, "Sam", "Lee", {"555-010-0050"})},
         {"Sam Lee"},
         {{"+15550100050 SMS", "Sam Lee"}, {"sam@example.com iMessage", "Sam Lee"}}},
        {"a card without a name alone is no person",
         {card(0, "", "", {"+1 555 010 0050"})},
         {},
         {}},
    };
    for (const Case& c : cases) {
        const People people = matchPeople(c.cards, handles, "US");
        std::vector<std::string> names;
        for (const Person& person : people.people) {
            names.push_back(person.displayName);
        }
        EXPECT_EQ(names, c.people) << c.what;
        EXPECT_EQ(namesByHandle(people, handles), c.handles) << c.what;
    }
}

TEST(PeopleMatcherRules,
     ANumberWithoutCountryCodeMatchesOnItsNationalDigitsWhenTheRegionGuessedWrong) {
    // A card typed in the United States, read on a machine set to Britain.
    const std::vector<ContactCard> cards = {card(0, "Jess", "Day", {"(555) 010-0001"}),
                                            card(0, "Short", "Code", {"0100001"})};
    const std::vector<HandleRecord> handles = {{1, "+15550100001", "iMessage", "us", ""},
                                               {2, "+15550100001", "SMS", "", ""}};
    EXPECT_EQ(namesByHandle(matchPeople(cards, handles, "GB"), handles),
              (std::map<std::string, std::string>{{"+15550100001 iMessage", "Jess Day"},
                                                  {"+15550100001 SMS", "Jess Day"}}));
}

TEST(PeopleMatcherRules, APersonKeepsItsIdWhicheverBookIsReadFirst) {
    const ContactCard icloud = card(0, "Jess", "Day", {"+1 555 010 0001"}, {}, "B-UID");
    const ContactCard google = card(1, "Jessica", "Day", {"+1 555 010 0001"}, {}, "A-UID");
    ContactCard icloudSecond = icloud;
    icloudSecond.sourceIndex = 2;

    const People first = matchPeople({icloud, google}, {}, "US");
    const People second = matchPeople({icloudSecond, google}, {}, "US");

    ASSERT_EQ(first.people.size(), 1u);
    ASSERT_EQ(second.people.size(), 1u);
    EXPECT_EQ(first.people[0].id, second.people[0].id);
    EXPECT_EQ(first.people[0].id.size(), 16u);
    EXPECT_EQ(first.people[0].displayName, "Jess Day");
    EXPECT_EQ(second.people[0].displayName, "Jessica Day");
    EXPECT_NE(matchPeople({card(0, "Jess", "Day", {}, {}, "C-UID")}, {}, "US").people[0].id,
              first.people[0].id);
}

} // namespace
} // namespace orlune::core
