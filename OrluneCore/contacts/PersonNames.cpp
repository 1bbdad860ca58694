#include "contacts/PersonNames.hpp"

#include "base/TextFold.hpp"
#include "contacts/AddressKey.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace orlune::core {

namespace {

using text::Token;
using text::TokenKind;

// Everyday English words that are also given names: alone and in lower case
// (or opening a sentence) they are more likely the word than the person.
const std::unordered_set<std::string>& everydayWords() {
    static const std::unordered_set<std::string> words = {
        "amber", "april",  "art",   "august", "bill",  "chase",  "crystal", "dawn", "drew", "faith",
        "frank", "grace",  "guy",   "holly",  "hope",  "hunter", "ivy",     "jack", "jade", "joy",
        "june",  "mark",   "max",   "may",    "penny", "ray",    "rob",     "rose", "ruby", "sky",
        "sue",   "summer", "sunny", "will",   "pat",   "an",     "bob",     "dean", "dot",  "gene",
        "jean",  "lily",   "miles", "norm",   "page",  "rich",   "rod",     "tom",  "van",  "wade",
    };
    return words;
}

bool isNameToken(const Token& token) {
    return token.kind == TokenKind::word || token.kind == TokenKind::number;
}

std::vector<std::string> nameWords(std::string_view name) {
    std::vector<std::string> words;
    for (const Token& token : text::tokenize(name)) {
        if (isNameToken(token)) {
            words.push_back(token.folded);
        }
    }
    return words;
}

// Every name a person goes by, for matching typed names.
std::vector<std::string> namesOf(const Person& person) {
    std::vector<std::string> names = {person.displayName, person.firstName, person.lastName,
                                      person.organization};
    if (!person.firstName.empty() && !person.lastName.empty()) {
        names.push_back(person.firstName + " " + person.lastName);
    }
    names.insert(names.end(), person.nicknames.begin(), person.nicknames.end());
    names.insert(names.end(), person.otherNames.begin(), person.otherNames.end());
    return names;
}

enum class NameKind { full, first, last, nickname, organization };

struct IndexedName {
    std::vector<std::string> words;
    size_t person = 0;
    NameKind kind = NameKind::full;
};

// ASCII digits of `text`.
std::string digitsOf(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    return digits;
}

} // namespace

NameQuery::NameQuery(std::string_view typed) : words_(nameWords(typed)) {}

NameFit NameQuery::fit(std::string_view name) const {
    if (words_.empty()) {
        return NameFit::none;
    }
    const std::vector<std::string> words = nameWords(name);
    if (words == words_) {
        return NameFit::whole;
    }
    NameFit best = NameFit::none;
    for (size_t at = 0; at + words_.size() <= words.size(); ++at) {
        const size_t lastTyped = words_.size() - 1;
        if (!std::equal(words_.begin(), words_.begin() + static_cast<std::ptrdiff_t>(lastTyped),
                        words.begin() + static_cast<std::ptrdiff_t>(at))) {
            continue;
        }
        const std::string& word = words[at + lastTyped];
        if (word == words_[lastTyped]) {
            return NameFit::words;
        }
        if (word.compare(0, words_[lastTyped].size(), words_[lastTyped]) == 0) {
            best = NameFit::wordPrefix;
        }
    }
    return best;
}

bool NameQuery::mayFit(std::string_view foldedNames) const {
    // A number's digits are read in any script, so only words are looked
    // for.
    return std::all_of(words_.begin(), words_.end(), [&](const std::string& word) {
        const bool number =
            std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
        return number || foldedNames.find(word) != std::string_view::npos;
    });
}

NameFit fitOf(const NameQuery& query, const Person& person) {
    NameFit fit = NameFit::none;
    for (const std::string& name : namesOf(person)) {
        if (!name.empty()) {
            fit = std::max(fit, query.fit(name));
        }
    }
    return fit;
}

HandleQuery::HandleQuery(std::string_view typed, const std::string& defaultRegion)
    : defaultRegion_(defaultRegion) {
    if (!NameQuery(typed).empty()) {
        typedText_ = text::foldCase(typed);
    }
    const AddressKey typedKey = addressKey(typed, defaultRegion);
    typedExact_ = typedKey.exact;
    typedIsEmail_ = typedExact_.rfind("e:", 0) == 0;
    typedIsNumber_ = typedExact_.rfind("p:", 0) == 0 || typedExact_.rfind("d:", 0) == 0;
    // Any writing of the typed number holds its last digits: only handles
    // that do are worth parsing.
    const std::string typedDigits = digitsOf(typedExact_);
    lastDigits_ = typedDigits.substr(typedDigits.size() - std::min<size_t>(typedDigits.size(), 7));
}

bool HandleQuery::names(const std::string& id) const {
    if (!typedText_.empty() && text::foldCase(id).find(typedText_) != std::string::npos) {
        return true;
    }
    if (typedIsEmail_) {
        return id.find('@') != std::string::npos && addressKey(id, {}).exact == typedExact_;
    }
    return typedIsNumber_ && digitsOf(id).find(lastDigits_) != std::string::npos &&
           addressKey(id, defaultRegion_).exact == typedExact_;
}

NamedPeople findNamed(std::string_view typed, const People& people,
                      const std::vector<std::string>& handleIds, const std::string& defaultRegion) {
    NamedPeople named;
    const NameQuery query(typed);
    std::vector<NameFit> fits(people.people.size(), NameFit::none);
    NameFit best = NameFit::none;
    for (size_t i = 0; i < people.people.size(); ++i) {
        fits[i] = fitOf(query, people.people[i]);
        best = std::max(best, fits[i]);
    }
    std::vector<bool> chosen(people.people.size(), false);
    if (best != NameFit::none) {
        for (size_t i = 0; i < fits.size(); ++i) {
            if (fits[i] == best) {
                named.people.push_back(i);
                chosen[i] = true;
            }
        }
    }

    std::unordered_set<std::string> linked;
    for (const HandleLink& link : people.links) {
        if (chosen[link.person]) {
            linked.insert(link.handleId);
        }
    }
    const HandleQuery handleQuery(typed, defaultRegion);
    std::unordered_set<std::string> added;
    auto add = [&](const std::string& id) {
        if (added.insert(id).second) {
            named.handleIds.push_back(id);
        }
    };
    for (const std::string& id : handleIds) {
        if (linked.count(id) != 0 || handleQuery.names(id)) {
            add(id);
        }
    }
    for (const HandleLink& link : people.links) {
        if (chosen[link.person]) {
            add(link.handleId);
        }
    }
    return named;
}

MentionWords::MentionWords(std::string_view text) {
    for (std::string& word : nameWords(text)) {
        words_.insert(std::move(word));
    }
}

bool MentionWords::anyIn(std::string_view names) const {
    const std::vector<std::string> words = nameWords(names);
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& word) { return words_.count(word) != 0; });
}

std::vector<PersonMention> findPeopleMentioned(std::string_view text, const People& people) {
    // Every name of every person, by its first word.
    std::unordered_map<std::string, std::vector<IndexedName>> byFirstWord;
    auto index = [&](const std::string& name, size_t person, NameKind kind) {
        std::vector<std::string> words = nameWords(name);
        if (!words.empty()) {
            const std::string first = words.front();
            byFirstWord[first].push_back(IndexedName{std::move(words), person, kind});
        }
    };
    for (size_t i = 0; i < people.people.size(); ++i) {
        const Person& person = people.people[i];
        index(person.displayName, i, NameKind::full);
        for (const std::string& name : person.otherNames) {
            index(name, i, NameKind::full);
        }
        if (!person.firstName.empty() && !person.lastName.empty()) {
            index(person.firstName + " " + person.lastName, i, NameKind::full);
        }
        index(person.firstName, i, NameKind::first);
        index(person.lastName, i, NameKind::last);
        for (const std::string& name : person.nicknames) {
            index(name, i, NameKind::nickname);
        }
        index(person.organization, i, NameKind::organization);
        // "Acme" for "Acme Plumbing Ltd".
        if (auto words = nameWords(person.organization); words.size() > 1) {
            byFirstWord[words.front()].push_back(
                IndexedName{{words.front()}, i, NameKind::organization});
        }
    }

    std::vector<Token> tokens;
    for (Token& token : text::tokenize(text)) {
        if (isNameToken(token)) {
            tokens.push_back(std::move(token));
        }
    }
    auto accepted = [&](const IndexedName& name, size_t at) {
        if (name.words.size() > 1 || name.kind == NameKind::nickname) {
            return true;
        }
        const Token& token = tokens[at];
        const bool everyday = everydayWords().count(token.folded) != 0;
        if (token.capitalised) {
            return !(at == 0 && everyday);
        }
        if (token.possessive) {
            return true;
        }
        return name.kind != NameKind::organization && !everyday;
    };

    std::vector<PersonMention> mentions;
    for (size_t at = 0; at < tokens.size();) {
        size_t longest = 0;
        std::vector<size_t> who;
        if (auto found = byFirstWord.find(tokens[at].folded); found != byFirstWord.end()) {
            for (const IndexedName& name : found->second) {
                const size_t length = name.words.size();
                if (length < longest || at + length > tokens.size()) {
                    continue;
                }
                bool fits = true;
                for (size_t k = 0; k < length && fits; ++k) {
                    fits = tokens[at + k].folded == name.words[k] &&
                           (k + 1 == length || !tokens[at + k].possessive);
                }
                if (!fits || !accepted(name, at)) {
                    continue;
                }
                if (length > longest) {
                    longest = length;
                    who.clear();
                }
                who.push_back(name.person);
            }
        }
        if (longest == 0) {
            ++at;
            continue;
        }
        std::sort(who.begin(), who.end());
        who.erase(std::unique(who.begin(), who.end()), who.end());
        const Token& last = tokens[at + longest - 1];
        mentions.push_back(
            PersonMention{tokens[at].begin, last.end, std::move(who), last.possessive});
        at += longest;
    }
    return mentions;
}

} // namespace orlune::core
