#pragma once
// What a question asks for, read in code before anything is searched: the
// people and chats it names, the time it is about, the kinds of attachment it
// asks for, and the words left to search for. The answer from the index and
// the model's tools both start from it.
//
// "What did Mom say about Grandma yesterday?" reads as: people {Mom}, time
// {yesterday}, words {grandma}; "when did Alex send me a photo?" as: people
// {Alex}, attachment kinds {photo}, no words.

#include "answer/WordNet.hpp"
#include "contacts/PeopleMatcher.hpp"
#include "records/AttachmentKind.hpp"
#include "time/LocalTime.hpp"
#include "time/TimeExpressionParser.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// The kind of thing a question asks for, read from its words ("what's the
// gate code?": a number or code; "how much was the repair?": an amount).
enum class AskedFor {
    anything,
    numberOrCode, // "number", "code", "pin", "password", "reference"
    amount,       // "how much", "cost", "price", "owe"
    timeOrDate,   // "what time", "what day", "when is/are/will"
    place,        // "where", "address"
    link,         // "link", "url", "website"
};

// A question about when something happened rather than what was said:
// answered from the messages' times.
enum class WhenAsked {
    no,
    latest,   // "when did I last talk to Omar?", "most recent"
    first,    // "when did Kim first message me?"
    howOften, // "how often", "how many times"
};

struct QuestionReading {
    // The people named, each once, in order of first mention (indices into
    // People::people). A name that may mean several people brings them all.
    std::vector<size_t> people;
    // The question is about what you wrote ("what did I tell Jess?"): "I"
    // with a verb of telling or sending, and no one else asked about ("what
    // did Lena say when I asked ...?" is about what Lena wrote).
    bool byMe = false;
    // The question is about what you answered when the people named asked
    // ("where are the photos Owen was asking about?", "the link Noor asked
    // for"): your reply to their message answers it. Their messages are
    // searched, as for any question about them.
    bool repliedToThem = false;
    // The question is about what the people named answered to a message of
    // yours ("what did Lena say when I asked about the cat?"): your message
    // holds the words, their reply the answer.
    bool afterMine = false;
    // The question is about your conversation with the people named, both
    // sides ("when did I last talk to Omar?").
    bool bothSides = false;
    // The words that named the people, folded, as written ("dad" for "what
    // did the doctor tell Dad?"): a message about them by someone else may
    // use them.
    std::vector<std::string> personWords;
    WhenAsked when = WhenAsked::no;
    AskedFor askedFor = AskedFor::anything;
    // The chats named by their title, each once (indices into the titles the
    // reader was given).
    std::vector<size_t> chats;
    // The time the question is about: the first time expression in it, and
    // its words as written ("yesterday", "since March").
    std::optional<TimeRange> time;
    std::string timeWords;
    // The kinds of attachment asked about, each once ("photo", "pdf"): only
    // with a verb of sending or sharing ("what photo did Alex send?");
    // otherwise the word is a topic ("what did Noor ask about the wedding
    // photos?" searches for "photos").
    std::vector<AttachmentKind> attachmentKinds;
    // The question is about reactions ("which message did Jess love?",
    // "what did I laugh at?"): the kinds named (reactionKindName: "love",
    // "like", ...), each once; none for reactions of any kind ("what did Sam
    // react to?"). Who reacted is the person named, or you with "I" (the
    // people named are then the senders).
    bool aboutReactions = false;
    std::vector<std::string> reactionKinds;
    // The words left to search for: case- and accent-folded, without common
    // words, single letters, names, times, attachment words read as such and
    // the words that only say what is asked for ("number", "link", "time");
    // each once, in order, at most kMaxQuestionWords, none longer than 64
    // bytes.
    std::vector<std::string> words;
    // Words the messages must not hold, folded, each once, at most
    // kMaxExcludedWords: the word after "NOT" (as a search is typed: "boiler
    // NOT engineer"), after a '-' that starts it ("-engineer"), after "but
    // not", "and not", "except", "excluding", "without", "other than" or
    // "apart from". A "not" that negates a verb ("why is the boiler not
    // working?"), or "without" before one ("without charging me"), excludes
    // nothing. Never among `words`.
    std::vector<std::string> excludedWords;
    // For each of `words` (same order), the words a message may use instead
    // (relatedWords): searched at a lower weight than the words themselves.
    // Without a word database, only the everyday words (everydayWords).
    std::vector<std::vector<std::string>> relatedWords;

    bool empty() const {
        return people.empty() && chats.empty() && !time && attachmentKinds.empty() &&
               !aboutReactions && words.empty();
    }
};

inline constexpr size_t kMaxQuestionWords = 16;
inline constexpr size_t kMaxExcludedWords = 4;

// True for the common English words a question is made of ("what", "did",
// "the", "say"), given folded.
bool isQuestionStopWord(std::string_view folded);

// The stem of a folded word by Snowball's English stemmer, the form its
// other forms share: "bringing", "brings" -> "bring"; "tickets" -> "ticket";
// "parties", "party" -> "parti". Not always a prefix of the word itself
// ("happy" -> "happi"). Words longer than 64 bytes stay whole.
std::string wordStem(std::string_view folded);

// At most this many related words stand for one word of a question.
inline constexpr size_t kMaxRelatedWords = 4;

// The words related to folded `word`: its everyday words (everydayWords),
// then those `wordnet` relates to it (its commonest meaning's synonyms, then
// the words derived from it); only those that would find other messages
// than `word` does: none with the same stem (wordStem) as `word` or as a
// word kept before it, no common word, none from WordNet shorter than 3
// letters; at most
// kMaxRelatedWords. "movie" -> "film", "picture", "pic", "flick".
std::vector<std::string> relatedWords(std::string_view word, const WordNet& wordnet);

// Reads questions against one address book and one set of chat titles.
// Immutable once made; any thread. Keeps references to `people`, `parser`
// and `wordnet`, which must outlive it.
class QuestionReader {
public:
    // `chatTitles`: the titles of the chats a question may name (named group
    // chats; a one-to-one chat is found through its person). Titles shorter
    // than 2 characters are never matched. `wordnet`: where the words
    // related to the question's words come from; none without it.
    QuestionReader(const People& people, std::vector<std::string> chatTitles,
                   const TimeExpressionParser& parser, const WordNet* wordnet = nullptr);

    // Throws std::invalid_argument for an unknown zone in `context`.
    QuestionReading read(std::string_view question, const TimeContext& context) const;

    const std::vector<std::string>& chatTitles() const { return chatTitles_; }

private:
    const People& people_;
    std::vector<std::string> chatTitles_;
    std::vector<std::vector<std::string>> titleWords_; // folded words of each title
    const TimeExpressionParser& parser_;
    const WordNet* wordnet_;
};

// What was understood, in a person's words: "messages from Mom yesterday
// about "grandma"", "your messages to Jess about "tickets"", "messages in
// Book Club with a photo", "messages on Saturday about "wifi" and
// "password"". `chatTitles` as given to the reader.
std::string describeReading(const QuestionReading& reading, const People& people,
                            const std::vector<std::string>& chatTitles);

} // namespace orlune::core
