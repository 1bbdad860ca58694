// Reading the words WordNet relates to a word from its database files, and
// the related words a question searches for.

#include "answer/WordNet.hpp"

#include "answer/QuestionReading.hpp"
#include "tests/support/TempDir.hpp"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;

// A meaning of a fake database: its words, and pointers to words of other
// meanings (by key) as "+" (derived from) pointers.
struct Meaning {
    std::string key;
    char part; // 'n' or 'v'
    std::vector<std::string> words;
    struct Derived {
        size_t source; // 1-based word of this meaning
        std::string target;
        size_t targetWord;
    };
    std::vector<Derived> derived;
};

// Writes index.*, data.* and *.exc in WordNet's layout: data lines at the
// byte offsets their index lines and pointers name, files sorted, each with
// a licence header the reader must step over. `senses`: each lemma's
// meanings (keys), commonest first; all seen in tagged texts but those of
// the lemmas `untagged`.
void writeDatabase(const std::filesystem::path& folder, const std::vector<Meaning>& meanings,
                   const std::map<std::pair<char, std::string>, std::vector<std::string>>& senses,
                   const std::string& nounExceptions,
                   const std::set<std::pair<char, std::string>>& untagged) {
    const std::string header = "  1 This software and database is being provided\n";
    auto fileOf = [](char part) { return std::string(part == 'n' ? "noun" : "verb"); };
    auto lineOf = [&](const Meaning& m, const std::map<std::string, std::string>& offsets) {
        char count[8];
        std::snprintf(count, sizeof count, "%02zx", m.words.size());
        std::string line = offsets.at(m.key) + " 05 " + m.part + " " + count;
        for (const std::string& word : m.words) {
            line += " " + word + " 0";
        }
        char pointers[8];
        std::snprintf(pointers, sizeof pointers, " %03zu", m.derived.size());
        line += pointers;
        for (const Meaning::Derived& d : m.derived) {
            char words[8];
            std::snprintf(words, sizeof words, "%02zx%02zx", d.source, d.targetWord);
            const char part = std::find_if(meanings.begin(), meanings.end(), [&](const Meaning& t) {
                                  return t.key == d.target;
                              })->part;
            line += " + " + offsets.at(d.target) + " " + part + " " + words;
        }
        return line + " | a gloss; \"with an example\"  \n";
    };
    // Offsets are eight digits wide, so lines measured with any offsets
    // place every meaning.
    std::map<std::string, std::string> offsets;
    for (const Meaning& m : meanings) {
        offsets[m.key] = "00000000";
    }
    std::map<char, size_t> sizes{{'n', header.size()}, {'v', header.size()}};
    std::map<std::string, std::string> placed;
    for (const Meaning& m : meanings) {
        char offset[16];
        std::snprintf(offset, sizeof offset, "%08zu", sizes[m.part]);
        placed[m.key] = offset;
        sizes[m.part] += lineOf(m, offsets).size();
    }
    std::map<char, std::string> data{{'n', header}, {'v', header}};
    for (const Meaning& m : meanings) {
        data[m.part] += lineOf(m, placed);
    }
    std::map<char, std::string> index{{'n', header}, {'v', header}};
    for (const auto& [lemma, keys] : senses) {
        const size_t tagged = untagged.count(lemma) > 0 ? 0 : keys.size();
        std::string line = lemma.second + " " + lemma.first + " " + std::to_string(keys.size()) +
                           " 1 + " + std::to_string(keys.size()) + " " + std::to_string(tagged);
        for (const std::string& key : keys) {
            line += " " + placed.at(key);
        }
        index[lemma.first] += line + "  \n";
    }
    for (char part : {'n', 'v'}) {
        std::ofstream(folder / ("data." + fileOf(part))) << data[part];
        std::ofstream(folder / ("index." + fileOf(part))) << index[part];
    }
    std::ofstream(folder / "noun.exc") << nounExceptions;
}

class WordNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<Meaning> meanings = {
            {"aardvark", 'n', {"aardvark", "ant_bear", "anteater"}, {}},
            {"movie", 'n', {"movie", "film", "flick", "motion_picture", "Pic"}, {}},
            {"cinema", 'n', {"movie_theater", "cinema", "movie"}, {}},
            {"repair", 'n', {"repair", "fix", "mend"}, {{1, "repairman", 1}, {2, "fixer", 1}}},
            {"repairman", 'n', {"repairman", "maintenance_man"}, {}},
            {"fixer", 'n', {"fixer", "influence_peddler"}, {}},
            {"mouse", 'n', {"mouse", "rodent"}, {}},
            {"trip", 'n', {"trip", "journey", "the", "go", "jaunt", "outing", "excursion"}, {}},
            {"zebra", 'n', {"zebra", "equine"}, {}},
            {"travel", 'n', {"travel", "journey"}, {}},
            {"spectacles", 'n', {"glasses", "spectacles"}, {}},
            {"glass", 'n', {"glass", "drinking_glass"}, {}},
            {"verb", 'v', {"verb", "movie"}, {}},
        };
        writeDatabase(dir_.path(), meanings,
                      {{{'n', "aardvark"}, {"aardvark"}},
                       {{'n', "film"}, {"movie"}},
                       {{'n', "movie"}, {"movie", "cinema"}},
                       {{'n', "mouse"}, {"mouse"}},
                       {{'n', "repairman"}, {"repairman"}},
                       {{'n', "trip"}, {"trip"}},
                       {{'n', "zebra"}, {"zebra"}},
                       {{'n', "fix"}, {"repair"}},
                       {{'n', "repair"}, {"repair"}},
                       {{'n', "travel"}, {"travel"}},
                       {{'n', "glasses"}, {"spectacles"}},
                       {{'n', "glass"}, {"glass"}},
                       // Verbs are not looked up: "movie" is no verb here.
                       {{'v', "movie"}, {"verb"}}},
                      "geese goose\nmice mouse\n",
                      {{'n', "glasses"}, {'n', "zebra"}, {'n', "travel"}});
    }

    TempDir dir_;
};

TEST_F(WordNetTest, RelatedWordsAreTheCommonestMeaningsOtherWordsThenItsDerivedForms) {
    const WordNet wordnet(dir_.path());
    struct Case {
        const char* word;
        size_t senses;
        std::vector<std::string> related;
    };
    const Case cases[] = {
        // Phrases ("motion_picture") are left out; capitals are folded.
        {"movie", 1, {"film", "flick", "pic"}},
        {"movie", 2, {"film", "flick", "pic", "cinema"}},
        // Only the forms derived from the word itself: "fixer" comes from
        // "fix", not from "repair".
        {"repair", 1, {"fix", "mend", "repairman"}},
        {"fix", 1, {"repair", "mend", "fixer"}},
        // Inflected forms, by WordNet's rules and by its list of exceptions,
        // are related to their base form too.
        {"films", 1, {"movie", "film", "flick", "pic"}},
        {"repairs", 1, {"repair", "fix", "mend", "repairman"}},
        {"mice", 1, {"mouse", "rodent"}},
        // The first and the last lemma of a file.
        {"aardvark", 1, {"anteater"}},
        {"zebra", 1, {"equine"}},
        // A base form never seen in tagged texts is left out beside one that
        // was ("glasses" as "glass", not as spectacles); alone, it counts.
        {"glasses", 1, {"glass"}},
        {"travel", 1, {"journey"}},
        {"unknown", 1, {}},
        {"", 1, {}},
        {"movie", 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wordnet.related(c.word, c.senses), c.related) << c.word << " " << c.senses;
    }
}

TEST_F(WordNetTest, AMissingOrBrokenDatabaseRelatesNothing) {
    EXPECT_TRUE(WordNet(dir_.path() / "absent").related("movie").empty());
    EXPECT_TRUE(WordNet(std::filesystem::path()).related("movie").empty());

    // Fields that are no numbers, counts beyond the line, offsets past the
    // end of the file.
    const TempDir broken;
    std::ofstream(broken.path() / "index.noun") << "film n x 1 + 1 0 00000000\n"
                                                << "movie n 1 9 + 1 0 99999999\n"
                                                << "zebra n 1 0 1 0 00000000\n";
    std::ofstream(broken.path() / "data.noun") << "00000000 05 n ff zebra 0 | too few words\n";
    const WordNet wordnet(broken.path());
    for (const char* word : {"film", "movie", "zebra", "films"}) {
        EXPECT_TRUE(wordnet.related(word).empty()) << word;
    }
}

TEST_F(WordNetTest, AQuestionsWordsAreRelatedToWordsThatFindOtherMessages) {
    const WordNet wordnet(dir_.path());
    // "films" shares its stem with "film", "the" is a common word, "go" is
    // too short; at most kMaxRelatedWords.
    EXPECT_EQ(relatedWords("trip", wordnet),
              (std::vector<std::string>{"journey", "jaunt", "outing", "excursion"}));
    EXPECT_EQ(relatedWords("movies", wordnet), (std::vector<std::string>{"film", "flick", "pic"}));
    EXPECT_TRUE(relatedWords("movie", WordNet(dir_.path() / "absent")).empty());
}

TEST(WordNetFolder, TheVariableNamesTheFolder) {
    struct FixedEnvironment : Environment {
        std::optional<std::string> variable(const std::string& name) const override {
            return name == "WNSEARCHDIR" ? std::optional<std::string>("/words") : std::nullopt;
        }
        std::string homeDirectory() const override { return "/home"; }
        std::string applicationSupportDirectory() const override { return "/data"; }
    };
    EXPECT_EQ(WordNet::findFolder(FixedEnvironment()), std::filesystem::path("/words"));
}

} // namespace
} // namespace orlune::core
