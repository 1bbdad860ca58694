// Whom a typed name or a question means, read from the shadow database row
// by row and within bounds however large the address book (handlesNamed,
// peopleMentionable), and searches scoped to the many handles a name may
// stand for.

#include "answer/MessageSearch.hpp"
#include "contacts/PersonNames.hpp"
#include "shadow/ShadowDB.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;
using ::testing::HasSubstr;

Person person(std::string id, std::string first, std::string last,
              std::vector<std::string> nicknames = {}, std::string organization = "") {
    Person p;
    p.id = std::move(id);
    p.firstName = std::move(first);
    p.lastName = std::move(last);
    p.nicknames = std::move(nicknames);
    p.organization = std::move(organization);
    p.displayName = p.firstName.empty() && p.lastName.empty()
                        ? p.organization
                        : p.firstName + (p.lastName.empty() ? "" : " " + p.lastName);
    return p;
}

ShadowMessage messageFrom(const std::string& sender, int number) {
    return ShadowMessage("guid-" + std::to_string(number), "chat-" + sender, std::nullopt, sender,
                         "dinner " + std::to_string(number), 1000 + number, false, false, false, {},
                         1);
}

// A shadow database holding `people` with `handles` (text, index of the
// person), and one message from each of `senders`.
void writeShadow(const std::string& path, People people,
                 const std::vector<std::pair<std::string, size_t>>& handles,
                 const std::vector<std::string>& senders) {
    ShadowDB db(path);
    db.createSchemaIfNeeded();
    std::vector<ShadowMessage> messages;
    for (const std::string& sender : senders) {
        messages.push_back(messageFrom(sender, static_cast<int>(messages.size())));
    }
    db.insertBatch(messages);
    db.replacePeople(PeopleTables{std::move(people), handles, {}}, "test");
}

std::set<std::string> asSet(const std::vector<std::string>& handles) {
    return {handles.begin(), handles.end()};
}

// Every case of findNamed's own table gives the same handles when the people
// are read from the database row by row: the cheap look before the exact
// one loses no one (accents, case, numbers, addresses).
TEST(HandlesNamed, TheRowByRowLookupFindsWhatFindNamedFinds) {
    TempDir dir;
    const std::string path = dir.file("shadow.db");
    People people;
    people.people = {
        person("p0", "Jess", "Day", {"Jess"}),     person("p1", "Jessica", "Alba"),
        person("p2", "Chloé", "Martin"),           person("p3", "Carol", "Day", {"Mom"}),
        person("p4", "", "", {}, "Acme Plumbing"), person("p5", "Agent", "٠٠٧")};
    writeShadow(path, people,
                {{"+15550100001", 0},
                 {"jess.day@example.com", 0},
                 {"+15550100002", 3},
                 {"+15550100099", 4},
                 {"+15550100007", 5},
                 {"chloe@example.com", 2}},
                {"+15550100001", "alex.k@example.com", "+15550109999"});
    ShadowDBReader db(path);
    const People stored = db.people();
    const std::vector<std::string> known = db.knownHandles();
    for (const char* typed : {"jess", "Jessi", "JESSICA ALBA", "chloe", "CHLOÉ martin", "day",
                              "Mom", "acme", "agent 007", "(555) 010-0002", "+1 555 010 9999",
                              "JESS.DAY@example.com", "alex.k", "zed", "  "}) {
        SCOPED_TRACE(typed);
        const NamedPeople expected = findNamed(typed, stored, known, "US");
        const auto found = db.handlesNamed(typed, "US");
        EXPECT_EQ(asSet(found.handleIds), asSet(expected.handleIds));
        EXPECT_EQ(found.people, expected.people.size());
        EXPECT_EQ(found.peopleLeftOut, 0u);
    }
}

// A name that many people share is bounded: the first kMaxNamedPeople of the
// best fit are kept and the rest counted and named in a note; a better fit
// later in the book still wins. The search scoped to their handles (more
// than a statement's placeholders could hold one by one) finds their
// messages.
TEST(HandlesNamed, ANameManyPeopleShareIsBoundedAndItsHandlesSearched) {
    constexpr size_t kMax = ShadowPeopleTables::kMaxNamedPeople;
    struct Case {
        const char* name;
        const char* first;    // the first name of many people "<first> Person<i>"
        size_t many;          // how many, with one handle and message each
        bool alexLast;        // then one person called "Alex Kim"
        size_t people;        // kept
        size_t peopleLeftOut; // counted
    };
    const Case cases[] = {
        {"fewer than the bound", "Alex", 40, false, 40, 0},
        {"more than the bound", "Alex", kMax + 500, false, kMax, 500},
        {"a whole-name fit after many that only start with it", "Alexandra", kMax + 500, true, 1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("shadow.db");
        People people;
        std::vector<std::pair<std::string, size_t>> handles;
        std::vector<std::string> senders;
        for (size_t i = 0; i < c.many + (c.alexLast ? 1 : 0); ++i) {
            const bool alex = i == c.many;
            people.people.push_back(person("p" + std::to_string(i), alex ? "Alex" : c.first,
                                           alex ? "Kim" : "Person" + std::to_string(i)));
            const std::string handle = "+1555" + std::to_string(2000000 + i);
            handles.emplace_back(handle, i);
            senders.push_back(handle);
        }
        writeShadow(path, people, handles, senders);
        ShadowDBReader db(path);

        const auto named = db.handlesNamed("Alex", "US");
        EXPECT_EQ(named.people, c.people);
        EXPECT_EQ(named.peopleLeftOut, c.peopleLeftOut);
        EXPECT_EQ(named.handleIds.size(), c.people);

        SearchFilters filters;
        filters.from = "alex";
        const FilteredSearch found =
            searchMessages(db, "dinner", filters, 5000, QueryBounds{}, TimeContext::system(), "US");
        EXPECT_EQ(found.outcome.results.size(), c.people);
        if (c.peopleLeftOut > 0) {
            ASSERT_EQ(found.notes.size(), 1u);
            EXPECT_THAT(found.notes[0],
                        HasSubstr("\"alex\" names more people than one search can cover: only " +
                                  std::to_string(kMax) + " people (500 others left out)"));
        } else {
            EXPECT_TRUE(found.notes.empty());
        }
    }
}

// The ids of the people each mention of `text` names, left to right.
std::vector<std::vector<std::string>> mentionedIds(const std::string& text, const People& people) {
    std::vector<std::vector<std::string>> ids;
    for (const PersonMention& mention : findPeopleMentioned(text, people)) {
        std::vector<std::string> who;
        for (size_t index : mention.people) {
            who.push_back(people.people[index].id);
        }
        std::sort(who.begin(), who.end());
        ids.push_back(who);
    }
    return ids;
}

// A question is read against only the people it may mention, and names the
// same people as against the whole address book: possessives, case,
// accents, nicknames, organisations and everyday words that are also names.
// However many people share a name, at most kMaxMentionablePeople are read.
TEST(HandlesNamed, AQuestionIsReadAgainstOnlyThePeopleItMayMention) {
    TempDir dir;
    const std::string path = dir.file("shadow.db");
    People people;
    people.people = {person("p0", "Jess", "Day", {"Jess"}),
                     person("p1", "Jessica", "Alba"),
                     person("p2", "Chloé", "Martin"),
                     person("p3", "Carol", "Day", {"Mom"}),
                     person("p4", "", "", {}, "Acme Plumbing"),
                     person("p5", "Will", "Smith"),
                     person("p6", "Mark", "Ruiz")};
    writeShadow(path, people, {{"+15550100001", 0}, {"+15550100002", 3}}, {});
    ShadowDBReader db(path);
    const People everyone = db.people();
    for (const char* question :
         {"what did Mom say about Grandma yesterday?", "what's Jess's flight number",
          "did jess day call about Jessica Alba’s party", "what did Day say", "ask CHLOE about it",
          "what will mark say", "Will you ask Will", "what did Acme Plumbing send", "nobody"}) {
        SCOPED_TRACE(question);
        const People few = db.peopleMentionable(question);
        EXPECT_LT(few.people.size(), everyone.people.size());
        EXPECT_EQ(mentionedIds(question, few), mentionedIds(question, everyone));
    }
    const People mom = db.peopleMentionable("what did mom say");
    ASSERT_EQ(mom.people.size(), 1u);
    EXPECT_EQ(mom.links.size(), 1u) << "with the person's handles";
    EXPECT_EQ(db.nameOfHandle("+15550100002"), "Carol Day");
    EXPECT_EQ(db.nameOfHandle("+15550109999"), std::nullopt);

    const std::string many = dir.file("many.db");
    People alexes;
    for (size_t i = 0; i < ShadowPeopleTables::kMaxMentionablePeople + 10; ++i) {
        alexes.people.push_back(person("p" + std::to_string(i), "Alex", std::to_string(i)));
    }
    writeShadow(many, alexes, {}, {});
    EXPECT_EQ(ShadowDBReader(many).peopleMentionable("what did Alex say").people.size(),
              ShadowPeopleTables::kMaxMentionablePeople);
}

} // namespace
} // namespace orlune::core
