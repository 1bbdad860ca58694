#include "answer/AnswerSearchPlan.hpp"

#include "base/TextFold.hpp"
#include "shadow/MatchExpression.hpp"
#include "sql/QueryBounds.hpp"
#include "time/TimeWords.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

// Shorter stems are searched whole, not as prefixes.
constexpr size_t kShortestPrefixStem = 4;

// How much the search for a date the question names, as messages write it,
// counts: as much as the search within the time it names, whose messages
// without words are merely the newest of that time.
constexpr double kDateInTextWeight = 1.0;
// How much the search for the question's words with one word of the time it
// names that names no date ("tuesday", "tonight") counts:
// such a message is often about another Tuesday, but a question typed as a
// search ("engineer tuesday") means those words.
constexpr double kTimeWordsInTextWeight = 0.5;

bool namesMonth(std::string_view folded) {
    const std::vector<TimeWords::Named>& months = TimeWords::english().months;
    return std::any_of(months.begin(), months.end(), [&](const TimeWords::Named& month) {
        return !month.ambiguous && month.phrase == folded;
    });
}

// The terms of the time named as a message written before it would write
// it (TimeWords::saidAhead): "friday morning" -> "friday", "morning"; with
// a month, also the day's number as a prefix ("8"* finds "8" and "8th").
struct TimeInText {
    std::vector<std::string> terms;
    bool date = false; // a month is named
    size_t words = 0;  // terms that are words, not numbers

    // A date, or two words of time or more ("friday morning"): a message
    // that holds them all is about that time, and the search needs no other
    // words.
    bool specific() const { return date || words >= 2; }
};

TimeInText timeInText(const std::string& timeWords) {
    TimeInText found;
    std::vector<std::string> numbers;
    for (const text::Token& token : text::tokenize(timeWords)) {
        if (token.kind == text::TokenKind::number) {
            numbers.push_back(MatchExpression::quoted(token.folded) + "*");
        } else if (token.kind == text::TokenKind::word &&
                   TimeWords::english().saidAhead(token.folded) &&
                   !isQuestionStopWord(token.folded)) {
            found.terms.push_back(MatchExpression::quoted(token.folded));
            found.date = found.date || namesMonth(token.folded);
            ++found.words;
        }
    }
    if (found.date) {
        found.terms.insert(found.terms.begin(), numbers.begin(), numbers.end());
    }
    return found;
}

// Every two of `words` together, each with its related words: "(A AND B)
// OR (A AND C) OR (B AND C)", A being "(<a> OR <a's related>...)"; with as
// many of each word's first related words as the prefix terms allow, none
// at worst. Empty when even the words alone are beyond them.
std::string pairsMatch(const std::vector<std::string>& words,
                       const std::vector<std::vector<std::string>>& related) {
    for (size_t kept = kMaxRelatedWords + 1; kept-- > 0;) {
        std::vector<std::string> groups;
        for (size_t i = 0; i < words.size(); ++i) {
            std::vector<std::string> others =
                i < related.size() ? related[i] : std::vector<std::string>{};
            others.resize(std::min(others.size(), kept));
            groups.push_back(relatedMatch({words[i]}, {others}, ""));
        }
        std::string match;
        for (size_t i = 0; i < groups.size(); ++i) {
            for (size_t j = i + 1; j < groups.size(); ++j) {
                match += (match.empty() ? "(" : " OR (") + groups[i] + " AND " + groups[j] + ")";
            }
        }
        if (MatchExpression::measure(match).prefixTerms <= QueryBounds::kDefaultMaxPrefixTerms) {
            return match;
        }
    }
    return {};
}

// `match` without the messages that hold any of `excluded` (each by its
// wordTerm), when the prefix terms allow; `match` as it is otherwise (the
// answer leaves such messages out after the search too).
std::string excluding(const std::string& match, const std::vector<std::string>& excluded) {
    if (match.empty() || excluded.empty() ||
        MatchExpression::measure(match).prefixTerms + excluded.size() >
            QueryBounds::kDefaultMaxPrefixTerms) {
        return match;
    }
    return "(" + match + ") NOT (" + prefixMatch(excluded, " OR ") + ")";
}

} // namespace

std::string wordTerm(const std::string& word) {
    const std::string stem = wordStem(word);
    // The word itself beside its forms: a message with the very word
    // matches both and ranks above those with another form only; every
    // word is searched so, so that none weighs more than the others.
    std::string term = "(" + MatchExpression::quoted(word) + " OR ";
    if (stem == word) {
        term += MatchExpression::quoted(word) + "*";
    } else if (stem.size() >= kShortestPrefixStem) {
        term += MatchExpression::quoted(stem) + "*";
    } else {
        term += MatchExpression::quoted(word) + "* OR " + MatchExpression::quoted(stem);
    }
    return term + ")";
}

std::string prefixMatch(const std::vector<std::string>& words, std::string_view joiner) {
    std::string match;
    for (const std::string& word : words) {
        if (!match.empty()) {
            match += joiner;
        }
        match += wordTerm(word);
    }
    return match;
}

std::string relatedMatch(const std::vector<std::string>& words,
                         const std::vector<std::vector<std::string>>& related,
                         std::string_view joiner, size_t otherPrefixTerms) {
    const size_t used = words.size() + otherPrefixTerms;
    size_t spare =
        QueryBounds::kDefaultMaxPrefixTerms - std::min(used, QueryBounds::kDefaultMaxPrefixTerms);
    std::string match;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string term = wordTerm(words[i]);
        if (i < related.size() && !related[i].empty() && spare > 0) {
            term = "(" + term;
            for (size_t j = 0; j < related[i].size() && spare > 0; ++j, --spare) {
                term += " OR " + wordTerm(related[i][j]);
            }
            term += ")";
        }
        match += (match.empty() ? "" : std::string(joiner)) + term;
    }
    return match;
}

namespace {

void addOnce(std::vector<std::string>& words, const std::string& word) {
    if (std::find(words.begin(), words.end(), word) == words.end()) {
        words.push_back(word);
    }
}

std::vector<PlannedSearch> withExclusions(std::vector<PlannedSearch> plans,
                                          const std::vector<std::string>& excluded) {
    for (PlannedSearch& plan : plans) {
        plan.match = excluding(plan.match, excluded);
    }
    return plans;
}

} // namespace

bool holdsFormOf(std::string_view text, const std::string& word) {
    const std::string stem = wordStem(word);
    for (const text::Token& token : text::tokenize(text)) {
        const std::string& folded = token.folded;
        if (token.kind == text::TokenKind::symbol) {
            continue;
        }
        const bool found = stem == word || stem.size() >= kShortestPrefixStem
                               ? folded.starts_with(stem)
                               : folded.starts_with(word) || folded == stem;
        if (found) {
            return true;
        }
    }
    return false;
}

std::vector<PlannedSearch> planSearches(const QuestionReading& reading) {
    const bool people = !reading.people.empty();
    const bool chats = !reading.chats.empty();
    const bool time = reading.time.has_value();
    const bool scoped = people || chats || time || reading.byMe ||
                        !reading.attachmentKinds.empty() || reading.aboutReactions;
    std::vector<PlannedSearch> plans;

    // The same words within each way of reading the people named: what they
    // sent weighs most (or what you sent them, for a question about what you
    // wrote), what was said in chats with them next.
    auto withinScope = [&](const std::string& match, double weight, WordsJoined joined) {
        if (reading.aboutReactions) {
            // Your reactions on what they sent, or theirs on anything.
            const PeopleScope senders =
                reading.byMe && people ? PeopleScope::fromThem : PeopleScope::any;
            const ReactedBy by = reading.byMe ? ReactedBy::me
                                 : people     ? ReactedBy::them
                                              : ReactedBy::anyone;
            plans.push_back({match, senders, chats, time, weight, false, by, joined});
            return;
        }
        PeopleScope first = people ? PeopleScope::fromThem : PeopleScope::any;
        if (reading.byMe) {
            first = people ? PeopleScope::fromMeToThem : PeopleScope::fromMe;
        } else if (reading.afterMine) {
            // Your message holds the words; its reply ranks with it
            // (AnswerFinder's windows), above their messages with the words.
            first = PeopleScope::fromMeToThem;
        } else if (reading.bothSides && people) {
            first = PeopleScope::chatsWithThem;
        }
        const bool fillsOnly = joined == WordsJoined::any;
        plans.push_back(
            {match, first, chats, time, weight, false, ReactedBy::none, joined, fillsOnly});
        if (people && first != PeopleScope::chatsWithThem) {
            plans.push_back({match, PeopleScope::chatsWithThem, chats, time, weight * 0.6, false,
                             ReactedBy::none, joined, joined != WordsJoined::each});
        }
    };

    // A message about the date named may have been sent any time before it
    // ("the bridal party is on 8 June"): the words with the date as written,
    // among the same people and chats, at any time.
    // The same for the other words of the time a message may write ahead
    // of it ("engineer tuesday", "dinner tomorrow"), with the question's
    // words only, and below the search within the time.
    auto timeInTextSearch = [&] {
        const TimeInText dated = time ? timeInText(reading.timeWords) : TimeInText{};
        // Each word and each day's number is a prefix term.
        if (dated.terms.empty() || (!dated.specific() && reading.words.empty()) ||
            reading.aboutReactions ||
            reading.words.size() + dated.terms.size() > QueryBounds::kDefaultMaxPrefixTerms) {
            return;
        }
        std::string match = prefixMatch(reading.words, " AND ");
        for (const std::string& term : dated.terms) {
            match += (match.empty() ? "" : " AND ") + term;
        }
        PeopleScope senders = people ? PeopleScope::chatsWithThem : PeopleScope::any;
        if (reading.byMe) {
            senders = people ? PeopleScope::fromMeToThem : PeopleScope::fromMe;
        }
        plans.push_back({match, senders, chats, false,
                         dated.specific() ? kDateInTextWeight : kTimeWordsInTextWeight});
    };

    if (reading.words.empty()) {
        if (scoped) {
            withinScope("", 1.0, WordsJoined::all);
        }
        timeInTextSearch();
        return withExclusions(plans, reading.excludedWords);
    }
    withinScope(prefixMatch(reading.words, " AND "), 1.0, WordsJoined::all);
    if (reading.words.size() > 1) {
        // Ranked together, one frequent word's short messages can fill the
        // whole list ("mom" for "mom ... grandma"); when no message has all
        // the words, a few words are searched one by one instead.
        const bool searchedApart = reading.words.size() <= kMaxWordsSearchedApart;
        withinScope(prefixMatch(reading.words, " OR "), 0.5, WordsJoined::any);
        for (size_t i = 0; searchedApart && i < reading.words.size(); ++i) {
            withinScope(prefixMatch({reading.words[i]}, ""), 0.5, WordsJoined::each);
        }
    }
    // Messages that say it in other words ("film" for "movie"), below those
    // that use the question's own.
    const bool related = std::any_of(reading.relatedWords.begin(), reading.relatedWords.end(),
                                     [](const auto& words) { return !words.empty(); });
    if (related) {
        withinScope(relatedMatch(reading.words, reading.relatedWords, " AND "), kRelatedWordsWeight,
                    WordsJoined::all);
        // Two of the words at least, each by itself or a related word, when
        // no message holds them all: "kids" and "halloween" for "children
        // dressing halloween", which no search for one word alone would lift
        // above that word's many short messages.
        if (reading.words.size() > 2 && reading.words.size() <= kMaxWordsSearchedApart) {
            const std::string pairs = pairsMatch(reading.words, reading.relatedWords);
            if (!pairs.empty()) {
                withinScope(pairs, kRelatedWordsWeight, WordsJoined::each);
            }
        }
        // Apart, as the words themselves are: one word's related words alone.
        const size_t apart =
            reading.words.size() > 1 && reading.words.size() <= kMaxWordsSearchedApart
                ? reading.relatedWords.size()
                : 0;
        for (size_t i = 0; i < apart; ++i) {
            if (!reading.relatedWords[i].empty()) {
                withinScope(prefixMatch(reading.relatedWords[i], " OR "), kRelatedWordsWeight / 2,
                            WordsJoined::each);
            }
        }
    }
    timeInTextSearch();
    if (scoped) {
        // A misremembered name or day should not hide the answer: the words
        // without the time, chats and attachments named, in your
        // conversations with the people named, then in what they wrote
        // anywhere, then everywhere; each step the words together, then any
        // of them or of the months and days the time names ("hiking
        // Saturday" for "the hike on Saturday"; "last week" adds nothing:
        // messages do not say it of the day they were sent, and such common
        // words would make the search slow).
        std::vector<std::string> wider = reading.words;
        for (const text::Token& token : text::tokenize(reading.timeWords)) {
            if (token.kind == text::TokenKind::word &&
                TimeWords::english().namesMonthOrWeekday(token.folded)) {
                addOnce(wider, token.folded);
            }
        }
        // Everyone's messages about the people named may name them as the
        // question does ("your dad saw the GP" for "what did the doctor tell
        // Dad?"), and say the words in other words.
        std::vector<std::string> widest = wider;
        if (!reading.words.empty()) {
            for (const std::string& word : reading.personWords) {
                addOnce(widest, word);
            }
            for (const std::vector<std::string>& others : reading.relatedWords) {
                for (const std::string& word : others) {
                    addOnce(widest, word);
                }
            }
        }
        auto widen = [&](PeopleScope scope, int step) {
            if (step == 3 && !reading.personWords.empty() &&
                reading.words.size() + reading.personWords.size() <= kMaxQuestionWords) {
                // First the messages that name them as the question does:
                // they hold all it asked, as those within the scope do.
                plans.push_back({"(" +
                                     relatedMatch(reading.words, reading.relatedWords, " AND ",
                                                  reading.personWords.size()) +
                                     ") AND (" + prefixMatch(reading.personWords, " OR ") + ")",
                                 scope, false, false, 1.0, true, ReactedBy::none, WordsJoined::all,
                                 false, step});
            }
            plans.push_back({prefixMatch(reading.words, " AND "), scope, false, false, 0.5, true,
                             ReactedBy::none, WordsJoined::all, false, step});
            if (related && step == 3) {
                plans.push_back({relatedMatch(reading.words, reading.relatedWords, " AND "), scope,
                                 false, false, kRelatedWordsWeight / 2, true, ReactedBy::none,
                                 WordsJoined::all, false, step});
            }
            const std::vector<std::string>& anyOf = step == 3 ? widest : wider;
            if (anyOf.size() > 1 && anyOf.size() <= kMaxQuestionWords) {
                plans.push_back({prefixMatch(anyOf, " OR "), scope, false, false, 0.25, true,
                                 ReactedBy::none, WordsJoined::all, false, step});
            }
        };
        const bool narrowed = time || chats || reading.byMe || !reading.attachmentKinds.empty() ||
                              reading.aboutReactions;
        if (people && narrowed) {
            widen(PeopleScope::chatsWithThem, 1);
            widen(PeopleScope::fromThem, 2);
        }
        widen(PeopleScope::any, 3);
    }
    return withExclusions(plans, reading.excludedWords);
}

} // namespace orlune::core
