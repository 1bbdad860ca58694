// Finding people by a typed name (--from, --chat) and in questions.

#include "contacts/PersonNames.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using ::testing::ElementsAreArray;

Person person(std::string first, std::string last, std::vector<std::string> nicknames = {},
              std::string organization = "") {
    Person p;
    p.firstName = std::move(first);
    p.lastName = std::move(last);
    p.nicknames = std::move(nicknames);
    p.organization = std::move(organization);
    p.displayName = p.firstName.empty() && p.lastName.empty()
                        ? p.organization
                        : p.firstName + (p.lastName.empty() ? "" : " " + p.lastName);
    return p;
}

// Index: 0 Jess Day, 1 Jessica Alba, 2 Chloé Martin, 3 Carol Day (Mom),
// 4 Acme Plumbing, 5 Will Smith, 6 Mark Ruiz.
People everyone() {
    People people;
    people.people = {person("Jess", "Day", {"Jess"}),
                     person("Jessica", "Alba"),
                     person("Chloé", "Martin"),
                     person("Carol", "Day", {"Mom"}),
                     person("", "", {}, "Acme Plumbing"),
                     person("Will", "Smith"),
                     person("Mark", "Ruiz")};
    people.links = {{1, "+15550100001", 0},
                    {2, "jess.day@example.com", 0},
                    {3, "+15550100002", 3},
                    {4, "+15550100099", 4}};
    return people;
}

const std::vector<std::string> kHandles = {"+15550100001", "jess.day@example.com", "+15550100002",
                                           "+15550100099", "alex.k@example.com",   "+15550109999"};

TEST(PersonNamesTyped, ATypedNameFindsTheBestFittingPeopleAndTheirHandles) {
    struct Case {
        const char* typed;
        std::vector<size_t> people;
        std::vector<std::string> handles;
    };
    const Case cases[] = {
        // A whole name beats a name it only starts.
        {"jess", {0}, {"+15550100001", "jess.day@example.com"}},
        {"Jessi", {1}, {}},
        {"JESSICA ALBA", {1}, {}},
        {"chloe", {2}, {}},
        {"day", {0, 3}, {"+15550100001", "jess.day@example.com", "+15550100002"}},
        {"Mom", {3}, {"+15550100002"}},
        {"acme", {4}, {"+15550100099"}},
        // Addresses: the same number however typed, an e-mail in any case,
        // part of an address.
        {"(555) 010-0002", {}, {"+15550100002"}},
        {"+1 555 010 9999", {}, {"+15550109999"}},
        {"JESS.DAY@example.com", {}, {"jess.day@example.com"}},
        {"alex.k", {}, {"alex.k@example.com"}},
        {"zed", {}, {}},
        {"  ", {}, {}},
    };
    const People people = everyone();
    for (const Case& c : cases) {
        const NamedPeople named = findNamed(c.typed, people, kHandles, "US");
        EXPECT_THAT(named.people, ElementsAreArray(c.people)) << c.typed;
        EXPECT_THAT(named.handleIds, ElementsAreArray(c.handles)) << c.typed;
    }
}

TEST(PersonNamesQuestion, PeopleNamedInAQuestionAreFoundWithTheWordsTheyTakeUp) {
    struct Mention {
        const char* words;
        std::vector<size_t> people;
        bool possessive;
    };
    struct Case {
        const char* question;
        std::vector<Mention> mentions;
    };
    const Case cases[] = {
        {"what did Mom say about Grandma yesterday?", {{"Mom", {3}, false}}},
        {"what did mom say", {{"mom", {3}, false}}},
        {"what's Jess's flight number", {{"Jess's", {0}, true}}},
        {"did jess day call about Jessica Alba’s party",
         {{"jess day", {0}, false}, {"Jessica Alba’s", {1}, true}}},
        {"what did Day say", {{"Day", {0, 3}, false}}},
        {"ask chloe about it", {{"chloe", {2}, false}}},
        // Everyday words that are also names: not in lower case, not
        // opening a sentence, unless possessive.
        {"what will mark say", {}},
        {"Will you ask Will", {{"Will", {5}, false}}},
        {"is this mark's", {{"mark's", {6}, true}}},
        // An organisation only when written as a name.
        {"any acme invoices", {}},
        {"what did Acme send", {{"Acme", {4}, false}}},
        {"what did Acme Plumbing send", {{"Acme Plumbing", {4}, false}}},
    };
    const People people = everyone();
    for (const Case& c : cases) {
        const std::string question = c.question;
        const auto mentions = findPeopleMentioned(question, people);
        ASSERT_EQ(mentions.size(), c.mentions.size()) << question;
        for (size_t i = 0; i < mentions.size(); ++i) {
            EXPECT_EQ(question.substr(mentions[i].begin, mentions[i].end - mentions[i].begin),
                      c.mentions[i].words)
                << question;
            EXPECT_THAT(mentions[i].people, ElementsAreArray(c.mentions[i].people)) << question;
            EXPECT_EQ(mentions[i].possessive, c.mentions[i].possessive) << question;
        }
    }
}

TEST(PersonNamesQuery, FitsAreCaseAndAccentBlindAndWordByWord) {
    struct Case {
        const char* typed;
        const char* name;
        NameFit fit;
    };
    const Case cases[] = {
        {"zoe muller", "Zoë Müller", NameFit::whole}, {"muller", "Zoë Müller", NameFit::words},
        {"zo mu", "Zoë Müller", NameFit::none},       {"zoe mu", "Zoë Müller", NameFit::wordPrefix},
        {"strasse", "Straße", NameFit::whole},        {"ller", "Zoë Müller", NameFit::none},
        {"o'brien", "Sean O’Brien", NameFit::words},  {"", "Anyone", NameFit::none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameQuery(c.typed).fit(c.name), c.fit) << c.typed << " / " << c.name;
    }
}

} // namespace
} // namespace orlune::core
