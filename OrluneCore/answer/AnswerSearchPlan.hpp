#pragma once
// The searches that look for a question's answer, planned from what was read
// in it (QuestionReading): the words together and apart, within the people,
// chats and time it named, and wider only when nothing is found there. The
// plans' ranked results are fused by AnswerRanking.

#include "answer/QuestionReading.hpp"

#include <string>
#include <vector>

namespace orlune::core {

// Which messages of the people named a search keeps.
enum class PeopleScope {
    any,           // every sender
    fromThem,      // messages they sent
    chatsWithThem, // messages in your chats with them, theirs and yours
    fromMe,        // messages you sent
    fromMeToThem,  // messages you sent in your chats with them
};

// Whose reaction a search requires on its messages.
enum class ReactedBy {
    none,   // no reaction needed
    anyone, // a reaction by anyone
    me,     // your reaction
    them,   // a reaction by the people named
};

// How a search joins the question's words. The searches for every word run
// first; then, if one of them found messages, those for any word; if none
// did, those for each word alone (one search per word, so that each word has
// its own best messages), or for any word when there are none of those.
enum class WordsJoined {
    all,  // every word (or no words at all)
    any,  // any word, ranked together
    each, // one word alone
};

// Questions with more content words than this search them together only.
inline constexpr size_t kMaxWordsSearchedApart = 4;

struct PlannedSearch {
    // An FTS5 MATCH expression over the words' stems as prefixes; empty to
    // list the newest messages of the scope.
    std::string match;
    PeopleScope people = PeopleScope::any;
    bool withinChats = false; // only the chats named
    bool withinTime = false;  // only the time named
    // How much this search's ranks count in the fusion.
    double weight = 1.0;
    // Run only when the searches without this flag found nothing. The
    // others keep to the attachment kinds the question named, if any.
    bool fallback = false;
    // Not for fallbacks: their messages need no reaction.
    ReactedBy reactedBy = ReactedBy::none;
    // Not for fallbacks, which are run whatever the words found.
    WordsJoined joined = WordsJoined::all;
    // Run only while the searches before it found fewer different texts
    // than the answer shows: its messages would rank below theirs (a weaker
    // scope, or only some of the words), and skipping it spares the
    // slowest searches on a large database. Not for fallbacks.
    bool fillsOnly = false;
    // For fallbacks, how far they widen, run one step at a time until one
    // finds messages: 1, your conversations with the people named (both
    // sides) at any time; 2, what they wrote anywhere; 3, everyone's
    // messages. 0 for the others.
    int widening = 0;
};

// The FTS5 term that finds a folded word's forms with one prefix term: the
// word itself and its stem (wordStem) as a quoted prefix, "(\"bringing\" OR
// \"bring\"*)", so that a message with the very word matches both and ranks
// above those with another form; "(\"happy\" OR \"happi\"*)". A stem shorter
// than 4 letters is taken whole, the word as the prefix: "(\"cats\" OR
// \"cats\"* OR \"cat\")", as such a prefix begins too many other words.
std::string wordTerm(const std::string& word);

// Whether `text` holds a word that wordTerm(`word`) finds: the word, or a
// word starting with its stem ("bringing" in "I'll bring it" for "brings").
bool holdsFormOf(std::string_view text, const std::string& word);

// Every word's wordTerm, joined by `joiner` (" AND ", " OR "):
// "(\"wine\" OR \"wine\"*) AND ...". Empty for no words. One prefix term a word.
std::string prefixMatch(const std::vector<std::string>& words, std::string_view joiner);

// prefixMatch with each word's relatedWords beside it, as many as the search
// bounds' prefix terms allow (QueryBounds::kDefaultMaxPrefixTerms, one per
// word first): "(<movie> OR <film>) AND <night>", each <word> its wordTerm.
// `related` is parallel to `words` (missing entries mean none).
// `otherPrefixTerms`: the prefix terms the match will be joined with,
// left out of the budget.
std::string relatedMatch(const std::vector<std::string>& words,
                         const std::vector<std::vector<std::string>>& related,
                         std::string_view joiner, size_t otherPrefixTerms = 0);

// How much the search for the words with their related words counts, below
// the question's own words (1).
inline constexpr double kRelatedWordsWeight = 0.5;

// The searches for `reading`, in the order they are run; none when the
// question named nothing to look for. Each search with words leaves out the
// messages that hold an excluded word, as far as the prefix terms allow.
std::vector<PlannedSearch> planSearches(const QuestionReading& reading);

} // namespace orlune::core
