#pragma once
// Finding people by what a person typed or asked: `--from NAME`, `--chat
// NAME`, and the people named in a question ("what's Jess's flight number?",
// "what did Mom say?"). Pure functions over the list of people; comparison
// is blind to case and accents ("chloe" finds "Chloé").

#include "contacts/PeopleMatcher.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orlune::core {

// How well a typed name fits a name, weakest first.
enum class NameFit {
    none,
    wordPrefix, // the typed words start words of the name: "Jes" in "Jessica Day"
    words,      // the typed words are whole words of the name: "Day" in "Jessica Day"
    whole,      // all of the name: "jessica day"
};

// A typed name, prepared once for matching against many names.
class NameQuery {
public:
    explicit NameQuery(std::string_view typed);

    // True when the typed text has no letters or digits.
    bool empty() const { return words_.empty(); }

    // The typed words must appear in the name consecutively and in order.
    NameFit fit(std::string_view name) const;
    // False when no name within `foldedNames` (names folded with text::fold
    // and joined by spaces) can fit, because a typed word is not in it: a
    // cheap look before the exact one. Typed numbers are not looked for (a
    // name's digits may be in another script).
    bool mayFit(std::string_view foldedNames) const;

private:
    std::vector<std::string> words_;
};

// Whom `typed` means.
struct NamedPeople {
    // People whose display name, name parts, nicknames, organisation or other
    // names fit best (only the best fit found counts: "Jess" that is some
    // person's whole nickname wins over "Jessica" that it starts), in the
    // order of People::people.
    std::vector<size_t> people;
    // Those people's handles, and every handle of `handleIds` whose address
    // is the typed one (the same phone number however written, or the same
    // e-mail address in any case) or contains the typed text ("alex.k"),
    // in the order of `handleIds`, each once.
    std::vector<std::string> handleIds;
};

// How well `query` fits the best of the names `person` goes by (display
// name, name parts, organisation, nicknames and other names).
NameFit fitOf(const NameQuery& query, const Person& person);

// Typed text as a handle: it names the handles that contain it ("alex.k")
// and those whose address it is (the same phone number however written, or
// the same e-mail address in any case). `defaultRegion` reads a typed phone
// number without a country code.
class HandleQuery {
public:
    HandleQuery(std::string_view typed, const std::string& defaultRegion);
    bool names(const std::string& handleId) const;

private:
    std::string defaultRegion_;
    std::string typedText_;
    std::string typedExact_;
    bool typedIsEmail_ = false;
    bool typedIsNumber_ = false;
    std::string lastDigits_;
};

// `handleIds`: every handle address the caller knows, with or without a
// person. `defaultRegion` reads a typed phone number without a country code.
NamedPeople findNamed(std::string_view typed, const People& people,
                      const std::vector<std::string>& handleIds, const std::string& defaultRegion);

// A person named inside a text.
struct PersonMention {
    // Byte offsets of the name in the text, [begin, end); a possessive "'s"
    // is inside.
    size_t begin = 0;
    size_t end = 0;
    std::vector<size_t> people; // everyone the words may mean, in People order
    bool possessive = false;
};

// The words of a text that may name people (its words and numbers, folded as
// names are), for picking out of a large address book the people the text
// may mention before findPeopleMentioned looks closely.
class MentionWords {
public:
    explicit MentionWords(std::string_view text);
    // False when no name among `names` (names joined by spaces) can be
    // mentioned in the text: none of their words is a word of the text.
    bool anyIn(std::string_view names) const;

private:
    std::unordered_set<std::string> words_;
};

// The people named in `text`, left to right, each at its longest name ("Jess
// Day's" over "Jess"). Full names (two words or more) and nicknames count in
// any case ("what did mom say"). A single first or last name counts when
// capitalised, possessive, or lower case and not an everyday English word
// that is also a name ("will", "may", "mark", ...); an organisation, or the
// first word of one ("Acme" for "Acme Plumbing"), only when capitalised or
// possessive; a capitalised everyday word opening the text ("Will you ...")
// does not count.
std::vector<PersonMention> findPeopleMentioned(std::string_view text, const People& people);

} // namespace orlune::core
