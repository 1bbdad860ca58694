#include "answer/QuestionReading.hpp"

#include "answer/EverydayWords.hpp"
#include "base/AsciiText.hpp"
#include "base/SpacelessText.hpp"
#include "base/TextFold.hpp"
#include "contacts/PersonNames.hpp"
#include "time/TimeWords.hpp"

#include <algorithm>
#include <array>
#include <libstemmer.h>
#include <map>
#include <set>
#include <unordered_set>

namespace orlune::core {

namespace {

// Longer words (links, codes) are no words of a question, nor stemmed.
constexpr size_t kMaxWordBytes = 64;

// Common words of questions and of talking about messages. Folded, and
// without apostrophes ("what's" is looked up as "whats").
const std::unordered_set<std::string_view>& stopWords() {
    static const std::unordered_set<std::string_view> words = {
        "a",          "abt",          "about",     "above",    "after",
        "again",      "against",      "ago",       "all",      "am",
        "an",         "and",          "any",       "anybody",  "anyone",
        "anything",   "are",          "aren",      "arent",    "as",
        "ask",        "asked",        "at",        "be",       "because",
        "been",       "before",       "being",     "below",    "between",
        "both",       "but",          "by",        "can",      "chat",
        "chats",      "conversation", "could",     "couldn",   "couldnt",
        "did",        "didn",         "didnt",     "do",       "does",
        "doesn",      "doesnt",       "doing",     "don",      "dont",
        "down",       "during",       "each",      "ever",     "every",
        "everybody",  "far",          "everyone",  "few",      "find",
        "for",        "from",         "further",   "get",      "getting",
        "go",         "goes",         "got",       "gotten",   "group",
        "had",        "has",          "hasn",      "hasnt",    "have",
        "haven",      "havent",       "having",    "he",       "her",
        "here",       "hers",         "herself",   "hes",      "him",
        "himself",    "his",          "how",       "i",        "id",
        "if",         "im",           "in",        "into",     "is",
        "isn",        "isnt",         "it",        "its",      "itself",
        "ive",        "just",         "know",      "let",      "ll",
        "me",         "mention",      "mentioned", "message",  "messages",
        "more",       "most",         "my",        "myself",   "no",
        "nor",        "not",          "now",       "of",       "off",
        "on",         "once",         "only",      "or",       "other",
        "our",        "ours",         "ourselves", "out",      "over",
        "own",        "please",       "re",        "remember", "s",
        "said",       "same",         "say",       "says",     "send",
        "sent",       "she",          "shes",      "should",   "shouldn",
        "shall",      "so",           "some",      "somebody", "someone",
        "something",  "such",         "t",         "talk",     "talked",
        "tell",       "text",         "texted",    "than",     "that",
        "thats",      "the",          "their",     "theirs",   "them",
        "themselves", "then",         "there",     "these",    "they",
        "this",       "those",        "through",   "to",       "told",
        "too",        "under",        "until",     "up",       "us",
        "ve",         "very",         "was",       "wasn",     "wasnt",
        "we",         "were",         "weren",     "what",     "whats",
        "when",       "where",        "wheres",    "which",    "while",
        "who",        "whom",         "whos",      "why",      "will",
        "with",       "without",      "won",       "would",    "wouldn",
        "write",      "wrote",        "you",       "your",     "yours",
        "yourself",   "yourselves"};
    return words;
}

// The question words of Chinese, Japanese, Korean and Thai, as a question
// in those scripts is cut into words (SpacelessText::words).
const std::unordered_set<std::string_view>& questionWordsWithoutSpaces() {
    static const std::unordered_set<std::string_view> words = {
        "什么", "什么时候", "时候", "哪里",   "哪儿", "为什么", "怎么",   "多少", "谁",   "いつ",
        "どこ", "なに",     "何時", "だれ",   "どう", "ですか", "ました", "언제", "어디", "뭐",
        "무엇", "누구",     "왜",   "เมื่อไหร่", "ที่ไหน", "อะไร",   "ใคร",    "ทำไม"};
    return words;
}

// Words that ask for a kind of attachment, as runs of folded words.
struct AttachmentWords {
    std::array<std::string_view, 2> words;
    AttachmentKind kind;
};
constexpr std::array<AttachmentWords, 27> kAttachmentWords = {{
    {{"voice", "message"}, AttachmentKind::VoiceMessage},
    {{"voice", "messages"}, AttachmentKind::VoiceMessage},
    {{"voice", "memo"}, AttachmentKind::VoiceMessage},
    {{"voice", "note"}, AttachmentKind::VoiceMessage},
    {{"audio", "message"}, AttachmentKind::VoiceMessage},
    {{"contact", "card"}, AttachmentKind::ContactCard},
    {{"photo", ""}, AttachmentKind::Photo},
    {{"photos", ""}, AttachmentKind::Photo},
    {{"picture", ""}, AttachmentKind::Photo},
    {{"pictures", ""}, AttachmentKind::Photo},
    {{"pic", ""}, AttachmentKind::Photo},
    {{"pics", ""}, AttachmentKind::Photo},
    {{"image", ""}, AttachmentKind::Photo},
    {{"images", ""}, AttachmentKind::Photo},
    {{"selfie", ""}, AttachmentKind::Photo},
    {{"video", ""}, AttachmentKind::Video},
    {{"videos", ""}, AttachmentKind::Video},
    {{"pdf", ""}, AttachmentKind::Pdf},
    {{"pdfs", ""}, AttachmentKind::Pdf},
    {{"document", ""}, AttachmentKind::Document},
    {{"documents", ""}, AttachmentKind::Document},
    {{"location", ""}, AttachmentKind::Location},
    {{"sticker", ""}, AttachmentKind::Sticker},
    {{"stickers", ""}, AttachmentKind::Sticker},
    {{"attachment", ""}, AttachmentKind::File},
    {{"attachments", ""}, AttachmentKind::File},
    {{"file", ""}, AttachmentKind::File},
}};

std::string withoutApostrophes(std::string_view word) {
    std::string out;
    for (char c : word) {
        if (c != '\'') {
            out += c;
        }
    }
    return out;
}

// One letter of an alphabet ("a", "é"); a character of a script written
// without spaces is often a word (雨, 家) and is not one.
bool isSingleLetter(std::string_view word) {
    if (word.empty()) {
        return true;
    }
    if (SpacelessText::contains(word)) {
        return false;
    }
    const auto lead = static_cast<unsigned char>(word[0]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return word.size() <= length;
}

// Byte ranges [begin, end) of the question already read as something else,
// kept merged and in order so that adding and looking up cost log(n) however
// long the question is.
class Spans {
public:
    void add(size_t begin, size_t end) {
        auto it = spans_.upper_bound(begin);
        if (it != spans_.begin() && std::prev(it)->second >= begin) {
            --it;
            begin = it->first;
        }
        while (it != spans_.end() && it->first <= end) {
            end = std::max(end, it->second);
            it = spans_.erase(it);
        }
        spans_.emplace(begin, end);
    }
    bool overlaps(size_t begin, size_t end) const {
        // Only the last span starting before `end` can reach past `begin`.
        auto it = spans_.lower_bound(end);
        return it != spans_.begin() && std::prev(it)->second > begin;
    }

private:
    std::map<size_t, size_t> spans_; // begin -> end, disjoint
};

template <typename T> void addOnce(std::vector<T>& list, const T& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
        list.push_back(value);
    }
}

// The word tokens of the question not yet read as something else.
std::vector<const text::Token*> freeWords(const std::vector<text::Token>& tokens,
                                          const Spans& taken) {
    std::vector<const text::Token*> words;
    for (const text::Token& token : tokens) {
        if (token.kind != text::TokenKind::symbol && !taken.overlaps(token.begin, token.end)) {
            words.push_back(&token);
        }
    }
    return words;
}

bool runAt(const std::vector<const text::Token*>& words, size_t at,
           const std::vector<std::string_view>& phrase) {
    for (size_t i = 0; i < phrase.size(); ++i) {
        if (words[at + i]->folded != phrase[i]) {
            return false;
        }
    }
    return true;
}

// Takes the first place where `phrase` (folded words) stands in `words` as a
// consecutive run out of `words`. False when it is not there.
bool takeFirstRun(std::vector<const text::Token*>& words,
                  const std::vector<std::string_view>& phrase) {
    if (phrase.empty()) {
        return false;
    }
    for (size_t at = 0; at + phrase.size() <= words.size(); ++at) {
        if (runAt(words, at, phrase)) {
            words.erase(words.begin() + static_cast<std::ptrdiff_t>(at),
                        words.begin() + static_cast<std::ptrdiff_t>(at + phrase.size()));
            return true;
        }
    }
    return false;
}

// Takes every run of `phrase` out of `words`, as taking the first run again
// and again would (a run may close up once the one inside it is gone:
// "voice voice message message"), in one pass. True when any was taken.
bool takeEveryRun(std::vector<const text::Token*>& words,
                  const std::vector<std::string_view>& phrase) {
    std::vector<const text::Token*> kept;
    kept.reserve(words.size());
    bool any = false;
    for (const text::Token* word : words) {
        kept.push_back(word);
        if (kept.size() >= phrase.size() && runAt(kept, kept.size() - phrase.size(), phrase)) {
            kept.resize(kept.size() - phrase.size());
            any = true;
        }
    }
    words = std::move(kept);
    return any;
}

// Words that name a reaction: the past tense always ("loved", "liked"); the
// plain verb only after "did" ("which did Jess love?"), where it cannot be
// "I'd like" or "what's it like". An empty kind is a reaction of any kind.
struct ReactionWord {
    std::string_view word;
    std::string_view kind;
    bool afterDidOnly;
};
constexpr std::array<ReactionWord, 17> kReactionWords = {{
    {"loved", "love", false},
    {"hearted", "love", false},
    {"liked", "like", false},
    {"laughed", "laugh", false},
    {"emphasized", "emphasize", false},
    {"emphasised", "emphasize", false},
    {"disliked", "dislike", false},
    {"questioned", "question", false},
    {"reacted", "", false},
    {"reaction", "", false},
    {"reactions", "", false},
    {"love", "love", true},
    {"heart", "love", true},
    {"like", "like", true},
    {"laugh", "laugh", true},
    {"dislike", "dislike", true},
    {"react", "", true},
}};

// Reads `folded` as a word naming a reaction into `reading`; false when it
// names none.
bool readReactionWord(const std::string& folded, bool afterDid, QuestionReading& reading) {
    for (const ReactionWord& entry : kReactionWords) {
        if (folded != entry.word || (entry.afterDidOnly && !afterDid)) {
            continue;
        }
        reading.aboutReactions = true;
        if (!entry.kind.empty()) {
            addOnce(reading.reactionKinds, std::string(entry.kind));
        }
        return true;
    }
    return false;
}

// "A, B or C"; with `others` more not listed, "A, B, C or 2,990 others".
std::string joinNames(const std::vector<std::string>& names, std::string_view last,
                      size_t others = 0) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += i + 1 == names.size() && others == 0 ? std::string(" ") + std::string(last) + " "
                                                        : ", ";
        }
        out += names[i];
    }
    if (others > 0) {
        out += " " + std::string(last) + " " + ascii::groupedDigits(others) +
               (others == 1 ? " other" : " others");
    }
    return out;
}

// The words a question's token gives the search: itself, or, in a script
// written without spaces, the words of its sentence (SpacelessText::words)
// without those of one character (particles and the like: 的, 了, は, が),
// unless it is nothing else.
std::vector<std::string> searchWordsOf(const text::Token& token) {
    if (token.kind != text::TokenKind::word || !SpacelessText::contains(token.folded)) {
        return {token.folded};
    }
    const std::vector<std::string> all = SpacelessText::words(token.folded);
    std::vector<std::string> longer;
    for (const std::string& word : all) {
        if (SpacelessText::letters(word) > 1 || !SpacelessText::contains(word)) {
            longer.push_back(word);
        }
    }
    return longer.empty() ? all : longer;
}

// A question may name thousands of people ("Alex" in a large address book):
// this many are named in a description, and the rest counted.
constexpr size_t kMaxNamesDescribed = 10;

bool isIn(std::string_view word, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

// The "-ing" forms of verbs of saying or asking ("Owen was asking about"),
// and "wondered".
bool isOngoingSayingVerb(std::string_view word) {
    return isIn(word, {"telling", "saying", "asking", "texting", "sending", "sharing", "mentioning",
                       "wondering", "wondered"});
}

// Verbs by which a question asks about what someone wrote or sent.
bool isTellingVerb(std::string_view word) {
    return isOngoingSayingVerb(word) ||
           isIn(word, {"tell",    "told",      "say",       "said",        "send",    "sent",
                       "write",   "wrote",     "text",      "texted",      "mention", "mentioned",
                       "message", "messaged",  "ask",       "asked",       "share",   "shared",
                       "reply",   "replied",   "answer",    "answered",    "promise", "promised",
                       "suggest", "suggested", "recommend", "recommended", "forward", "forwarded",
                       "post",    "posted",    "email",     "emailed",     "offer",   "offered",
                       "invite",  "invited",   "remind",    "reminded"});
}

// Verbs of sending or sharing: with one, an attachment word asks for
// messages with such an attachment.
bool isSendingVerb(std::string_view word) {
    return isIn(word, {"send", "sent", "sends", "sending", "share", "shared", "shares", "sharing",
                       "post", "posted", "forward", "forwarded", "upload", "uploaded", "attach",
                       "attached", "take", "took"});
}

// Verbs of saying or asking: without a verb of sending, an attachment word
// after one is what was talked about.
bool isSayingVerb(std::string_view word) {
    return isOngoingSayingVerb(word) ||
           isIn(word, {"say",      "said",       "ask",     "asked",     "tell",  "told",
                       "talk",     "talked",     "mention", "mentioned", "think", "thought",
                       "write",    "wrote",      "answer",  "answered",  "reply", "replied",
                       "complain", "complained", "decide",  "decided"});
}

// Verbs of talking with someone, both sides.
bool isTalkingVerb(std::string_view word) {
    return isIn(word, {"talk", "talked", "speak", "spoke", "chat", "chatted", "hear", "heard"});
}

// Words that may stand between "I" and its verb ("did I ever tell").
bool isAdverbBeforeVerb(std::string_view word) {
    return isIn(word, {"ever", "last", "first", "just", "also", "already", "actually", "recently",
                       "never", "once"});
}

// Words a question is asked with that put someone other than you as its
// subject ("did she", "has Omar").
bool isAuxiliary(std::string_view word) {
    return isIn(word, {"did", "does", "do", "has", "had", "have", "was", "is", "will", "would",
                       "could", "can"});
}

bool isReactionWord(std::string_view word) {
    return std::any_of(kReactionWords.begin(), kReactionWords.end(),
                       [&](const ReactionWord& entry) { return entry.word == word; });
}

// How many of `words` from `at` say that the word after them is one the
// messages must not hold: "NOT" typed as a search operator, "except",
// "excluding", "without" (not before a verb: "without charging"), "other
// than", "apart from", and "not" after "but", "and" or a comma ("dinner,
// not the birthday"); 0 when they do not. A "not" elsewhere negates a verb
// ("why is the boiler not working?").
size_t negationAt(const std::vector<const text::Token*>& words, size_t at,
                  std::string_view question) {
    const text::Token& token = *words[at];
    const std::string& folded = token.folded;
    if (question.substr(token.begin, token.end - token.begin) == "NOT" ||
        isIn(folded, {"except", "excluding"})) {
        return 1;
    }
    // "without chocolate"; "without charging me" tells of an act not done.
    if (folded == "without") {
        const bool act = at + 1 < words.size() && words[at + 1]->folded.size() > 5 &&
                         words[at + 1]->folded.ends_with("ing");
        return act ? 0 : 1;
    }
    if (at + 1 < words.size() && ((folded == "other" && words[at + 1]->folded == "than") ||
                                  (folded == "apart" && words[at + 1]->folded == "from"))) {
        return 2;
    }
    if (folded != "not" || at == 0) {
        return 0;
    }
    const text::Token& before = *words[at - 1];
    const std::string_view between = question.substr(before.end, token.begin - before.end);
    return isIn(before.folded, {"but", "and"}) || between.find(',') != std::string_view::npos ? 1
                                                                                              : 0;
}

// A word typed with a '-' before it as the search operator ("-engineer"),
// not a word joined by one ("e-mail").
bool dashedOut(const text::Token& token, std::string_view question) {
    return token.begin >= 1 && question[token.begin - 1] == '-' &&
           (token.begin == 1 || question[token.begin - 2] == ' ');
}

// Takes the words the messages must not hold (negationAt, dashedOut) out of
// `words` into `excluded`, with the words that said so.
void takeExcludedWords(std::vector<const text::Token*>& words, std::string_view question,
                       std::vector<std::string>& excluded) {
    std::vector<const text::Token*> kept;
    kept.reserve(words.size());
    bool excluding = false;
    for (size_t at = 0; at < words.size();) {
        if (const size_t marker = negationAt(words, at, question)) {
            excluding = true;
            at += marker;
            continue;
        }
        const text::Token* token = words[at++];
        const bool searchable = token->folded.size() <= kMaxWordBytes &&
                                !isSingleLetter(token->folded) &&
                                !isQuestionStopWord(token->folded);
        if (searchable && (excluding || dashedOut(*token, question))) {
            if (excluded.size() < kMaxExcludedWords) {
                addOnce(excluded, token->folded);
            }
            excluding = false;
            continue;
        }
        kept.push_back(token);
    }
    words = std::move(kept);
}

// What the words of the whole question (folded, in order) say about whose
// messages it asks for and what it asks for.
struct QuestionForm {
    bool byMe = false;
    bool bothSides = false;
    bool sending = false;
    bool saying = false;
    bool repliedToThem = false;
    bool afterMine = false;
    WhenAsked when = WhenAsked::no;
    AskedFor askedFor = AskedFor::anything;
    // Words that only say what is asked for, left out of the search.
    std::vector<std::string> markers;
};

// Whether the question ends in a clause on something the people named
// asked ("... Owen was asking about", "... Noor asked for"): a person, then
// a verb of asking, then only "about" or "for".
bool asksAfterThem(const std::vector<std::string>& words, const std::vector<bool>& namesSomeone) {
    if (words.size() < 3 || !isIn(words.back(), {"about", "for"})) {
        return false;
    }
    size_t verb = words.size() - 2;
    if (!isIn(words[verb], {"asked", "asking", "wondering", "wondered"})) {
        return false;
    }
    size_t subject = verb - 1;
    if (subject > 0 && isIn(words[subject], {"was", "had", "has", "is", "kept", "been"})) {
        --subject;
    }
    return namesSomeone[subject];
}

QuestionForm readForm(const std::vector<std::string>& words,
                      const std::vector<bool>& namesSomeone) {
    QuestionForm form;
    auto has = [&](std::string_view word) {
        return std::find(words.begin(), words.end(), word) != words.end();
    };
    auto pair = [&](std::string_view first, std::string_view second) {
        for (size_t i = 0; i + 1 < words.size(); ++i) {
            if (words[i] == first && words[i + 1] == second) {
                return true;
            }
        }
        return false;
    };
    bool iTells = false;
    bool iReacts = false;
    bool iTalks = false;
    bool otherSubject = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        form.sending = form.sending || isSendingVerb(word);
        form.saying = form.saying || isSayingVerb(word);
        if (word == "i" || word == "we") {
            size_t j = i + 1;
            while (j < words.size() && isAdverbBeforeVerb(words[j])) {
                ++j;
            }
            if (j < words.size()) {
                // "... when I asked about the deposit"
                form.afterMine = form.afterMine ||
                                 (word == "i" && i > 0 && isIn(words[i - 1], {"when", "after"}) &&
                                  isTellingVerb(words[j]));
                iTells = iTells || (word == "i" && isTellingVerb(words[j]));
                iReacts = iReacts || (word == "i" && isReactionWord(words[j]));
                iTalks = iTalks || isTalkingVerb(words[j]);
            }
        }
        if (isAuxiliary(word) && i + 1 < words.size() &&
            (namesSomeone[i + 1] || isIn(words[i + 1], {"he", "she", "they"}))) {
            otherSubject = true;
        }
    }
    // "What did Tom send that I laughed at?" is about your reaction.
    form.byMe = (iTells && !otherSubject) || iReacts;
    form.bothSides = iTalks && !form.byMe;
    form.repliedToThem = !form.byMe && asksAfterThem(words, namesSomeone);
    // "show me ...", "show us ..." ask; "the show" is a topic.
    if ((!words.empty() && words.front() == "show") || pair("show", "me") || pair("show", "us")) {
        form.markers.emplace_back("show");
    }

    const bool when = has("when");
    if (pair("how", "often") || (pair("how", "many") && (has("times") || has("messages")))) {
        form.when = WhenAsked::howOften;
    } else if ((when || pair("last", "time")) &&
               (has("last") || has("latest") || has("recently") || pair("most", "recent"))) {
        form.when = WhenAsked::latest;
    } else if ((when || pair("first", "time")) && has("first")) {
        form.when = WhenAsked::first;
    }
    if (form.when != WhenAsked::no) {
        form.markers.insert(form.markers.end(), {"last", "latest", "recently", "first", "often",
                                                 "many", "times", "time", "recent"});
    }

    auto asks = [&](AskedFor kind, std::initializer_list<std::string_view> dropped) {
        form.askedFor = kind;
        form.markers.insert(form.markers.end(), dropped.begin(), dropped.end());
    };
    if (has("link") || has("links") || has("url") || has("website")) {
        asks(AskedFor::link, {"link", "links", "url"});
    } else if (pair("how", "much") || has("cost") || has("costs") || has("price") || has("owe") ||
               has("owed") || has("fee")) {
        asks(AskedFor::amount, {"much", "cost", "costs", "price"});
    } else if (has("number") || has("code") || has("pin") || has("password") || has("passcode") ||
               has("reference")) {
        asks(AskedFor::numberOrCode, {"number"});
    } else if (pair("what", "time") || pair("what", "day") || pair("which", "day") ||
               pair("what", "date") ||
               (when && form.when == WhenAsked::no &&
                (pair("when", "is") || pair("when", "are") || pair("when", "will") ||
                 pair("when", "s") || pair("when", "does") || pair("when", "do") ||
                 pair("when", "was") || pair("when", "were") || pair("when", "whens")))) {
        asks(AskedFor::timeOrDate, {"time", "day", "date"});
    } else if (has("where") || has("wheres") || has("address")) {
        asks(AskedFor::place, {"address"});
    }
    return form;
}

} // namespace

bool isQuestionStopWord(std::string_view folded) {
    return stopWords().count(withoutApostrophes(folded)) > 0 ||
           questionWordsWithoutSpaces().count(folded) > 0;
}

std::string wordStem(std::string_view folded) {
    // A Snowball stemmer keeps its working state between calls: one per
    // thread. Absent only when out of memory; the word then stays whole.
    struct Stemmer {
        sb_stemmer* english = sb_stemmer_new("english", nullptr);
        ~Stemmer() { sb_stemmer_delete(english); }
    };
    thread_local const Stemmer stemmer;
    if (stemmer.english == nullptr || folded.size() > kMaxWordBytes) {
        return std::string(folded);
    }
    const sb_symbol* stem =
        sb_stemmer_stem(stemmer.english, reinterpret_cast<const sb_symbol*>(folded.data()),
                        static_cast<int>(folded.size()));
    if (stem == nullptr) {
        return std::string(folded);
    }
    return {reinterpret_cast<const char*>(stem),
            static_cast<size_t>(sb_stemmer_length(stemmer.english))};
}

std::vector<std::string> relatedWords(std::string_view word, const WordNet& wordnet) {
    std::vector<std::string> kept;
    std::set<std::string> stems{wordStem(word)};
    const std::vector<std::string> everyday = everydayWords(word);
    std::vector<std::string> candidates = everyday;
    for (std::string& related : wordnet.related(word)) {
        candidates.push_back(std::move(related));
    }
    for (size_t i = 0; i < candidates.size() && kept.size() < kMaxRelatedWords; ++i) {
        std::string& related = candidates[i];
        // The table's own words are kept however short ("gp").
        if ((related.size() >= 3 || i < everyday.size()) && !isQuestionStopWord(related) &&
            stems.insert(wordStem(related)).second) {
            kept.push_back(std::move(related));
        }
    }
    return kept;
}

QuestionReader::QuestionReader(const People& people, std::vector<std::string> chatTitles,
                               const TimeExpressionParser& parser, const WordNet* wordnet)
    : people_(people), chatTitles_(std::move(chatTitles)), parser_(parser), wordnet_(wordnet) {
    for (const std::string& title : chatTitles_) {
        std::vector<std::string> words;
        for (const text::Token& token : text::tokenize(title)) {
            if (token.kind != text::TokenKind::symbol) {
                words.push_back(token.folded);
            }
        }
        const bool tooShort = words.size() == 1 && isSingleLetter(words[0]);
        titleWords_.push_back(tooShort ? std::vector<std::string>{} : std::move(words));
    }
}

QuestionReading QuestionReader::read(std::string_view question, const TimeContext& context) const {
    QuestionReading reading;
    Spans taken;
    Spans personSpans;

    for (const TimeMatch& match : parser_.find(question, context)) {
        if (!reading.time) {
            reading.time = match.range;
            reading.timeWords = std::string(question.substr(match.begin, match.end - match.begin));
        }
        taken.add(match.begin, match.end);
    }
    for (const PersonMention& mention : findPeopleMentioned(question, people_)) {
        if (taken.overlaps(mention.begin, mention.end)) {
            continue;
        }
        for (size_t person : mention.people) {
            addOnce(reading.people, person);
        }
        taken.add(mention.begin, mention.end);
        personSpans.add(mention.begin, mention.end);
    }

    const std::vector<text::Token> tokens = text::tokenize(question);
    for (const text::Token& token : tokens) {
        if (token.kind == text::TokenKind::word && personSpans.overlaps(token.begin, token.end) &&
            token.folded.size() <= kMaxWordBytes && !isQuestionStopWord(token.folded)) {
            addOnce(reading.personWords, token.folded);
        }
    }
    // The words not read as a time or a person; each reading below takes
    // its words out of this one list.
    std::vector<const text::Token*> words = freeWords(tokens, taken);
    // Chats by title, longest titles first so that "Book Club 2024" wins
    // over "Book Club".
    std::vector<size_t> byLength(titleWords_.size());
    for (size_t i = 0; i < byLength.size(); ++i) {
        byLength[i] = i;
    }
    std::stable_sort(byLength.begin(), byLength.end(), [&](size_t a, size_t b) {
        return titleWords_[a].size() > titleWords_[b].size();
    });
    for (size_t chat : byLength) {
        const std::vector<std::string_view> phrase(titleWords_[chat].begin(),
                                                   titleWords_[chat].end());
        if (takeFirstRun(words, phrase)) {
            addOnce(reading.chats, chat);
        }
    }
    // Every word of the question, and whether it names someone, for its form.
    std::vector<std::string> allWords;
    std::vector<bool> namesSomeone;
    for (const text::Token& token : tokens) {
        if (token.kind == text::TokenKind::word) {
            allWords.push_back(withoutApostrophes(token.folded));
            namesSomeone.push_back(personSpans.overlaps(token.begin, token.end));
        }
    }
    const QuestionForm form = readForm(allWords, namesSomeone);
    reading.byMe = form.byMe;
    reading.bothSides = form.bothSides;
    reading.repliedToThem = form.repliedToThem;
    reading.afterMine = form.afterMine && !form.byMe && !reading.people.empty();
    reading.when = form.when;
    reading.askedFor = form.askedFor;

    const bool attachmentsAsked = form.sending || !form.saying;
    for (const AttachmentWords& entry : kAttachmentWords) {
        if (!attachmentsAsked) {
            break;
        }
        std::vector<std::string_view> phrase{entry.words[0]};
        if (!entry.words[1].empty()) {
            phrase.push_back(entry.words[1]);
        }
        if (takeEveryRun(words, phrase)) {
            addOnce(reading.attachmentKinds, entry.kind);
        }
    }

    bool afterDid = false;
    std::vector<const text::Token*> leftWords;
    leftWords.reserve(words.size());
    for (const text::Token* token : words) {
        const bool reaction = token->kind == text::TokenKind::word &&
                              readReactionWord(token->folded, afterDid, reading);
        if (!reaction) {
            leftWords.push_back(token);
        }
        afterDid = afterDid || token->folded == "did";
    }

    takeExcludedWords(leftWords, question, reading.excludedWords);

    std::set<std::string> seen(reading.excludedWords.begin(), reading.excludedWords.end());
    for (const text::Token* token : leftWords) {
        // Markers of what is asked for, and verbs that name the act of
        // writing ("post", "hear from"), are not what the messages say.
        if (token->kind == text::TokenKind::word &&
            (std::find(form.markers.begin(), form.markers.end(), token->folded) !=
                 form.markers.end() ||
             isTellingVerb(token->folded) || isTalkingVerb(token->folded))) {
            continue;
        }
        for (const std::string& word : searchWordsOf(*token)) {
            if (reading.words.size() == kMaxQuestionWords) {
                break;
            }
            if (word.size() > kMaxWordBytes ||
                (token->kind == text::TokenKind::word &&
                 (isSingleLetter(word) || isQuestionStopWord(word)))) {
                continue;
            }
            if (seen.insert(word).second) {
                reading.words.push_back(word);
            }
        }
    }
    static const WordNet noWordNet{std::filesystem::path()};
    for (const std::string& word : reading.words) {
        reading.relatedWords.push_back(
            relatedWords(word, wordnet_ != nullptr ? *wordnet_ : noWordNet));
    }
    return reading;
}

namespace {

bool isNamed(const std::vector<TimeWords::Named>& named, const std::string& folded) {
    return std::any_of(named.begin(), named.end(),
                       [&folded](const TimeWords::Named& entry) { return entry.phrase == folded; });
}

// The time as written, made to follow "messages": a bare day or date gets
// the word that joins it ("on Saturday", "on 3 May", "in March", "in 2023");
// words that join by themselves ("since March", "last week", "yesterday")
// stay as they are.
std::string joinedTime(const std::string& timeWords) {
    const std::vector<text::Token> tokens = text::tokenize(timeWords);
    if (tokens.empty()) {
        return timeWords;
    }
    const TimeWords& words = TimeWords::english();
    const text::Token& first = tokens.front();
    const bool hasDay = std::any_of(tokens.begin() + 1, tokens.end(), [](const text::Token& token) {
        return token.kind == text::TokenKind::number && token.folded.size() <= 2;
    });
    if (first.kind == text::TokenKind::number) {
        return (first.folded.size() == 4 && tokens.size() == 1 ? "in " : "on ") + timeWords;
    }
    if (isNamed(words.weekdays, first.folded)) {
        return "on " + timeWords;
    }
    if (isNamed(words.months, first.folded)) {
        return (hasDay ? "on " : "in ") + timeWords;
    }
    return timeWords;
}

} // namespace

std::string describeReading(const QuestionReading& reading, const People& people,
                            const std::vector<std::string>& chatTitles) {
    // About reactions, the people named reacted, unless "I" did: then they
    // sent the messages.
    const bool mine = reading.byMe && !reading.aboutReactions;
    std::string out = mine ? "your messages" : "messages";
    std::vector<std::string> names;
    size_t othersNamed = 0;
    for (size_t person : reading.people) {
        if (person >= people.people.size()) {
            continue;
        }
        if (names.size() < kMaxNamesDescribed) {
            names.push_back(people.people[person].displayName);
        } else {
            ++othersNamed;
        }
    }
    if (!names.empty() && (!reading.aboutReactions || reading.byMe)) {
        out += (mine                ? " to "
                : reading.bothSides ? " between you and "
                                    : " from ") +
               joinNames(names, "or", othersNamed);
    }
    if (reading.aboutReactions) {
        const std::string who = reading.byMe    ? "you"
                                : names.empty() ? "someone"
                                                : joinNames(names, "or", othersNamed);
        out += " that " + who + " reacted to";
        if (!reading.reactionKinds.empty()) {
            out += " (" + joinNames(reading.reactionKinds, "or") + ")";
        }
    }
    if (!reading.chats.empty()) {
        std::vector<std::string> titles;
        for (size_t chat : reading.chats) {
            if (chat < chatTitles.size()) {
                titles.push_back(chatTitles[chat]);
            }
        }
        out += " in " + joinNames(titles, "or");
    }
    if (!reading.attachmentKinds.empty()) {
        std::vector<std::string> kinds;
        for (AttachmentKind kind : reading.attachmentKinds) {
            kinds.emplace_back(kind == AttachmentKind::File
                                   ? "an attachment"
                                   : "a " + std::string(attachmentKindName(kind)));
        }
        out += " with " + joinNames(kinds, "or");
    }
    if (reading.time) {
        out += " " + joinedTime(reading.timeWords);
    }
    if (!reading.words.empty()) {
        // Quoted, so that they read as the words looked for, not a sentence.
        std::vector<std::string> quoted;
        for (const std::string& word : reading.words) {
            quoted.push_back("\"" + word + "\"");
        }
        out += " about " + joinNames(quoted, "and");
    }
    if (!reading.excludedWords.empty()) {
        std::vector<std::string> quoted;
        for (const std::string& word : reading.excludedWords) {
            quoted.push_back("\"" + word + "\"");
        }
        out += " without " + joinNames(quoted, "or");
    }
    return out;
}

} // namespace orlune::core
