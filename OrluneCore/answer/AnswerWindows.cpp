#include "answer/AnswerWindows.hpp"

#include "base/TextFold.hpp"
#include "time/StoreTime.hpp"
#include "time/TimeWords.hpp"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace orlune::core {

namespace {

using text::Token;
using text::TokenKind;

bool isIn(std::string_view word, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool isWord(const Token* token, std::initializer_list<std::string_view> list) {
    return token != nullptr && token->kind == TokenKind::word && isIn(token->folded, list);
}

// Token `i` of `tokens`, or null past either end.
const Token* tokenAt(const std::vector<Token>& tokens, size_t i) {
    return i < tokens.size() ? &tokens[i] : nullptr;
}

bool isClockSuffix(const Token* token) {
    return isWord(token, {"am", "pm", "oclock", "o'clock", "h"});
}

// Whether `token` is written in 2 to 4 capital letters ("KL", "VIA").
bool isCapitalsCode(std::string_view text, const Token& token) {
    const std::string_view written = text.substr(token.begin, token.end - token.begin);
    return token.kind == TokenKind::word && written.size() >= 2 && written.size() <= 4 &&
           std::all_of(written.begin(), written.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// A thing a text holds: bytes [begin, end) of the text.
struct Span {
    size_t begin = 0;
    size_t end = 0;
};

// The index of the last token of the number at `i`, with its decimals
// ("12.50").
size_t numberEnd(const std::vector<Token>& tokens, size_t i) {
    const Token* point = tokenAt(tokens, i + 1);
    const Token* decimals = tokenAt(tokens, i + 2);
    if (point != nullptr && point->folded == "." && !point->spaceBefore && decimals != nullptr &&
        decimals->kind == TokenKind::number && decimals->digits == 2 && !decimals->spaceBefore) {
        return i + 2;
    }
    return i;
}

std::optional<Span> numberOrCodeIn(std::string_view text, const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind != TokenKind::number) {
            continue;
        }
        const Token* next = tokenAt(tokens, i + 1);
        if (isClockSuffix(next)) {
            continue;
        }
        // Letters written onto the digits ("B7", "12A") make a code.
        const bool lettersBefore =
            i > 0 && tokens[i - 1].kind == TokenKind::word && !token.spaceBefore;
        const bool lettersAfter =
            next != nullptr && next->kind == TokenKind::word && !next->spaceBefore;
        // "KL 612", "AC 859"
        const bool capitalsBefore =
            i > 0 && token.digits >= 2 && isCapitalsCode(text, tokens[i - 1]);
        if (token.digits >= 3 || lettersBefore || lettersAfter || capitalsBefore) {
            return Span{lettersBefore || capitalsBefore ? tokens[i - 1].begin : token.begin,
                        lettersAfter ? next->end : token.end};
        }
    }
    return std::nullopt;
}

bool isCurrencySymbol(std::string_view symbol) {
    return isIn(symbol, {"$", "£", "€", "¥"});
}

std::optional<Span> amountIn(const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokenKind::symbol && isCurrencySymbol(token.folded)) {
            const Token* next = tokenAt(tokens, i + 1);
            if (next != nullptr && next->kind == TokenKind::number) {
                return Span{token.begin, tokens[numberEnd(tokens, i + 1)].end};
            }
        }
        if (token.kind != TokenKind::number) {
            continue;
        }
        const size_t last = numberEnd(tokens, i);
        const Token* unit = tokenAt(tokens, last + 1);
        // "145€", "15 €"
        if (unit != nullptr && unit->kind == TokenKind::symbol && isCurrencySymbol(unit->folded)) {
            return Span{token.begin, unit->end};
        }
        if (isWord(unit, {"quid", "bucks", "dollars", "dollar", "pounds", "pound", "euros", "euro",
                          "usd", "gbp", "eur", "k", "grand", "each", "pp", "pcm", "pw"})) {
            return Span{token.begin, unit->end};
        }
        // "1150 a month", "90 per night"; not "take 2 a day"
        const Token* period = tokenAt(tokens, last + 2);
        if (token.digits >= 2 && isWord(unit, {"a", "an", "per"}) &&
            isWord(period, {"month", "week", "night", "hour", "year", "day", "person", "head"})) {
            return Span{token.begin, period->end};
        }
        // "12.50"
        if (last != i) {
            return Span{token.begin, tokens[last].end};
        }
    }
    return std::nullopt;
}

std::optional<Span> timeOrDateIn(const std::vector<Token>& tokens) {
    const TimeWords& words = TimeWords::english();
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokenKind::number && token.digits <= 2) {
            if (const Token* suffix = tokenAt(tokens, i + 1); isClockSuffix(suffix)) {
                return Span{token.begin, suffix->end};
            }
            const Token* colon = tokenAt(tokens, i + 1);
            const Token* minutes = tokenAt(tokens, i + 2);
            if (colon != nullptr && colon->folded == ":" && minutes != nullptr &&
                minutes->kind == TokenKind::number && minutes->digits == 2) {
                const Token* suffix = tokenAt(tokens, i + 3);
                return Span{token.begin, isClockSuffix(suffix) ? suffix->end : minutes->end};
            }
        }
        if (token.kind == TokenKind::word &&
            (words.namesMonthOrWeekday(token.folded) ||
             isIn(token.folded, {"noon", "midday", "midnight", "tomorrow"}))) {
            return Span{token.begin, token.end};
        }
    }
    return std::nullopt;
}

bool isNameOrNumber(const Token& token) {
    return (token.kind == TokenKind::word && token.capitalised) || token.kind == TokenKind::number;
}

std::optional<Span> placeIn(const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind != TokenKind::word) {
            continue;
        }
        if (isIn(token.folded,
                 {"road",     "rd",      "street",  "st",      "avenue",     "ave",
                  "lane",     "square",  "station", "cafe",    "restaurant", "pub",
                  "bar",      "park",    "hotel",   "airport", "terminal",   "platform",
                  "entrance", "office",  "centre",  "center",  "market",     "beach",
                  "cinema",   "theatre", "theater", "museum",  "library",    "stadium",
                  "hospital", "church",  "hall",    "corner",  "outside",    "address"})) {
            // With the names and numbers before it ("14 Mill Road", "Kings
            // Cross station"), else with its "the".
            size_t first = i;
            while (first > 0 && isNameOrNumber(tokens[first - 1])) {
                --first;
            }
            if (first == i && i > 0 && tokens[i - 1].folded == "the") {
                first = i - 1;
            }
            return Span{tokens[first].begin, token.end};
        }
        // "at the Crown", "in Brixton", "by Kings Cross"
        if (isIn(token.folded, {"at", "in", "by", "near", "outside"})) {
            size_t first = i + 1;
            if (isWord(tokenAt(tokens, first), {"the"})) {
                ++first;
            }
            size_t last = first;
            while (last < tokens.size() && tokens[last].kind == TokenKind::word &&
                   tokens[last].capitalised) {
                ++last;
            }
            if (last > first) {
                return Span{tokens[i + 1].begin, tokens[last - 1].end};
            }
        }
    }
    return std::nullopt;
}

// From `begin` to the next white space, without the punctuation that ends a
// sentence around a link.
Span toWhiteSpace(std::string_view text, size_t begin) {
    size_t end = begin;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    while (end > begin && isIn(text.substr(end - 1, 1), {".", ",", ")", "!", "?", ";", ":"})) {
        --end;
    }
    return Span{begin, end};
}

std::optional<Span> linkIn(std::string_view text) {
    // Lower-cased ASCII only, so that offsets stay those of `text`.
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    size_t at = std::string::npos;
    for (const char* start : {"http://", "https://", "www."}) {
        at = std::min(at, lower.find(start));
    }
    if (at != std::string::npos) {
        return toWhiteSpace(text, at);
    }
    const std::vector<Token> tokens = text::tokenize(lower);
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::word || tokens[i + 1].folded != "." ||
            tokens[i + 1].spaceBefore || tokens[i + 2].spaceBefore) {
            continue;
        }
        // "example.com", or any two-letter country domain with a path
        // ("festival.ca/tickets").
        const Token* slash = tokenAt(tokens, i + 3);
        const bool path = slash != nullptr && slash->folded == "/" && !slash->spaceBefore;
        if (isWord(&tokens[i + 2], {"com", "org", "net", "io", "co", "uk", "app", "ly", "me", "gl",
                                    "be", "info", "eu", "de", "fr", "dev", "events", "ca"}) ||
            (path && tokens[i + 2].kind == TokenKind::word && tokens[i + 2].folded.size() == 2)) {
            return toWhiteSpace(text, tokens[i].begin);
        }
    }
    return std::nullopt;
}

bool isLaugh(std::string_view word) {
    // "haha", "hahaha", "hehe", "lol", "lool", "lmao"
    if (word == "lmao" || word == "lmfao" || word == "rofl") {
        return true;
    }
    if (word.size() >= 3 && word.front() == 'l' && word.back() == 'l' &&
        word.find_first_not_of('o', 1) == word.size() - 1) {
        return true;
    }
    if (word.size() >= 2 && word.size() % 2 == 0) {
        bool laugh = true;
        for (size_t i = 0; laugh && i < word.size(); i += 2) {
            laugh = word[i] == 'h' && (word[i + 1] == 'a' || word[i + 1] == 'e');
        }
        return laugh;
    }
    return false;
}

int64_t secondsOf(int64_t storeDate) {
    const auto instant = instantFromStoreDate(storeDate);
    return instant ? std::chrono::duration_cast<std::chrono::seconds>(instant->time_since_epoch())
                         .count()
                   : 0;
}

// Whether `message` is from the side the question asks about.
bool fromSideAskedAbout(const SearchResult& message, const WindowWants& wants) {
    if (wants.byMe) {
        return message.isFromMe;
    }
    if (message.isFromMe) {
        return false;
    }
    return wants.people.empty() || std::find(wants.people.begin(), wants.people.end(),
                                             message.sender) != wants.people.end();
}

// A reply answers a question about what someone named said to a message of
// mine, or about what I said to theirs.
bool replyWanted(const SearchResult& hit, const WindowWants& wants) {
    return hit.isFromMe != wants.byMe && (wants.byMe || !wants.people.empty());
}

// The question asks for a kind of thing the hit does not hold.
bool kindWanted(const SearchResult& hit, const WindowWants& wants) {
    return wants.askedFor != AskedFor::anything && !holdsAskedFor(hit.text, wants.askedFor);
}

// Whether a thing asked for in `message` answers: from the side asked
// about, or from either side when no one is named and the question is not
// about what you wrote.
bool fromSideOfKind(const SearchResult& message, const WindowWants& wants) {
    return fromSideAskedAbout(message, wants) || (wants.people.empty() && !wants.byMe);
}

} // namespace

std::optional<std::string> askedForIn(std::string_view text, AskedFor kind) {
    std::optional<Span> span;
    switch (kind) {
    case AskedFor::anything:
        break;
    case AskedFor::numberOrCode:
        span = numberOrCodeIn(text, text::tokenize(text));
        break;
    case AskedFor::amount:
        span = amountIn(text::tokenize(text));
        break;
    case AskedFor::timeOrDate:
        span = timeOrDateIn(text::tokenize(text));
        break;
    case AskedFor::place:
        span = placeIn(text::tokenize(text));
        break;
    case AskedFor::link:
        span = linkIn(text);
        break;
    }
    if (!span) {
        return std::nullopt;
    }
    return std::string(text.substr(span->begin, span->end - span->begin));
}

bool holdsAskedFor(std::string_view text, AskedFor kind) {
    return kind == AskedFor::anything || askedForIn(text, kind).has_value();
}

bool isAcknowledgement(std::string_view text) {
    size_t words = 0;
    size_t symbols = 0;
    for (const Token& token : text::tokenize(text)) {
        if (token.kind == TokenKind::symbol) {
            // An attachment's placeholder is a message of its own.
            if (token.folded == "\xEF\xBF\xBC") {
                return false;
            }
            ++symbols;
            continue;
        }
        if (token.kind == TokenKind::number) {
            return false;
        }
        ++words;
        if (words > 4 ||
            !(isLaugh(token.folded) ||
              isIn(token.folded,
                   {"ok",      "okay",   "okk",     "k",         "kk",   "yes",    "yeah",
                    "yep",     "yup",    "ya",      "yea",       "no",   "nope",   "nah",
                    "sure",    "thanks", "thank",   "you",       "thx",  "ty",     "cool",
                    "nice",    "great",  "perfect", "awesome",   "good", "sounds", "fine",
                    "alright", "right",  "np",      "omg",       "wow",  "oh",     "ah",
                    "aw",      "aww",    "love",    "it",        "that", "will",   "do",
                    "got",     "gotcha", "noted",   "same",      "true", "xx",     "x",
                    "xxx",     "lovely", "amazing", "brilliant", "ta",   "cheers", "sweet",
                    "haha",    "hmm",    "mm",      "agreed",    "deal", "done",   "totally"}))) {
            return false;
        }
    }
    return words > 0 || symbols > 0;
}

size_t windowLength(const SearchResult& hit, const std::vector<SearchResult>& after) {
    const int64_t hitSeconds = secondsOf(hit.timestamp);
    size_t length = 0;
    while (length < after.size() && length < static_cast<size_t>(kWindowMessages) &&
           after[length].chatId == hit.chatId &&
           secondsOf(after[length].timestamp) - hitSeconds <= kWindowSeconds) {
        ++length;
    }
    return length;
}

std::vector<WindowPick> pickFromWindow(const SearchResult& hit,
                                       const std::vector<SearchResult>& after,
                                       const WindowWants& wants) {
    std::vector<WindowPick> picks;
    const bool wantsReply = replyWanted(hit, wants);
    bool inReply = false;
    bool replyEnded = false;
    bool replySaidSomething = false;
    const bool wantsKind = kindWanted(hit, wants);
    bool kindFound = false;
    const size_t length = windowLength(hit, after);
    for (size_t i = 0; i < length; ++i) {
        const SearchResult& message = after[i];
        const bool otherSide = message.isFromMe != hit.isFromMe;
        const bool asked = fromSideAskedAbout(message, wants);
        std::optional<double> factor;
        if (wantsReply && !replyEnded) {
            if (otherSide && asked) {
                inReply = true;
                if (isAcknowledgement(message.text)) {
                    factor = kAcknowledgingReply;
                } else if (!replySaidSomething) {
                    factor = kAnswerInWindow;
                    replySaidSomething = true;
                } else {
                    factor = kMoreOfTheReply;
                }
            } else if (inReply && !isAcknowledgement(message.text)) {
                // "thanks!" between their messages does not end their reply
                // ("the technician comes at 4" ... "thanks!" ... "it was the
                // valve").
                replyEnded = true;
            }
        }
        if (wantsKind && !kindFound && fromSideOfKind(message, wants) &&
            holdsAskedFor(message.text, wants.askedFor)) {
            kindFound = true;
            factor = kAnswerInWindow;
        }
        if (factor) {
            picks.push_back(WindowPick{message, *factor});
        }
    }
    return picks;
}

std::vector<WindowPick> pickFromThread(const SearchResult& hit,
                                       const std::vector<SearchResult>& thread,
                                       const WindowWants& wants) {
    std::vector<WindowPick> picks;
    const int64_t hitSeconds = secondsOf(hit.timestamp);
    const bool wantsReply = replyWanted(hit, wants);
    const bool wantsKind = kindWanted(hit, wants);
    bool replySaidSomething = false;
    bool kindFound = false;
    for (const SearchResult& message : thread) {
        std::optional<double> factor;
        if (wantsReply && message.isFromMe != hit.isFromMe && fromSideAskedAbout(message, wants) &&
            secondsOf(message.timestamp) >= hitSeconds) {
            if (isAcknowledgement(message.text)) {
                factor = kAcknowledgingReply;
            } else if (!replySaidSomething) {
                factor = kAnswerInThread;
                replySaidSomething = true;
            } else {
                factor = kMoreOfTheReply;
            }
        }
        if (wantsKind && !kindFound && fromSideOfKind(message, wants) &&
            holdsAskedFor(message.text, wants.askedFor)) {
            kindFound = true;
            factor = std::max(factor.value_or(0), kAnswerInWindow);
        }
        if (factor) {
            picks.push_back(WindowPick{message, *factor});
        }
    }
    return picks;
}

} // namespace orlune::core
