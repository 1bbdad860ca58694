#include "answer/AnswerWindows.hpp"

#include "base/TextFold.hpp"
#include "time/StoreTime.hpp"
#include "time/TimeWords.hpp"

#include <algorithm>
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

bool holdsNumberOrCode(std::string_view text, const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind != TokenKind::number) {
            continue;
        }
        const Token* next = tokenAt(tokens, i + 1);
        if (isClockSuffix(next)) {
            continue;
        }
        if (token.digits >= 3) {
            return true;
        }
        // Letters written onto the digits ("B7", "12A") make a code.
        const bool lettersBefore =
            i > 0 && tokens[i - 1].kind == TokenKind::word && !token.spaceBefore;
        const bool lettersAfter =
            next != nullptr && next->kind == TokenKind::word && !next->spaceBefore;
        // "KL 612", "AC 859"
        const bool capitalsBefore =
            i > 0 && token.digits >= 2 && isCapitalsCode(text, tokens[i - 1]);
        if (lettersBefore || lettersAfter || capitalsBefore) {
            return true;
        }
    }
    return false;
}

bool holdsAmount(const std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokenKind::symbol && isIn(token.folded, {"$", "£", "€", "¥"})) {
            const Token* next = tokenAt(tokens, i + 1);
            if (next != nullptr && next->kind == TokenKind::number) {
                return true;
            }
        }
        if (token.kind == TokenKind::number &&
            isWord(tokenAt(tokens, i + 1), {"quid", "bucks", "dollars", "pounds", "euros", "usd",
                                            "gbp", "eur", "k", "grand", "each", "pp"})) {
            return true;
        }
        // "12.50"
        if (token.kind == TokenKind::number && i + 2 < tokens.size() &&
            tokens[i + 1].folded == "." && !tokens[i + 1].spaceBefore &&
            tokens[i + 2].kind == TokenKind::number && tokens[i + 2].digits == 2 &&
            !tokens[i + 2].spaceBefore) {
            return true;
        }
    }
    return false;
}

bool holdsTimeOrDate(const std::vector<Token>& tokens) {
    const TimeWords& words = TimeWords::english();
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokenKind::number && token.digits <= 2) {
            if (isClockSuffix(tokenAt(tokens, i + 1))) {
                return true;
            }
            const Token* colon = tokenAt(tokens, i + 1);
            const Token* minutes = tokenAt(tokens, i + 2);
            if (colon != nullptr && colon->folded == ":" && minutes != nullptr &&
                minutes->kind == TokenKind::number && minutes->digits == 2) {
                return true;
            }
        }
        if (token.kind == TokenKind::word &&
            (words.namesMonthOrWeekday(token.folded) ||
             isIn(token.folded, {"noon", "midday", "midnight", "tomorrow"}))) {
            return true;
        }
    }
    return false;
}

bool holdsPlace(const std::vector<Token>& tokens) {
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
            return true;
        }
        // "at the Crown", "in Brixton", "by Kings Cross"
        if (isIn(token.folded, {"at", "in", "by", "near", "outside"})) {
            const Token* next = tokenAt(tokens, i + 1);
            if (isWord(next, {"the"})) {
                next = tokenAt(tokens, i + 2);
            }
            if (next != nullptr && next->kind == TokenKind::word && next->capitalised) {
                return true;
            }
        }
    }
    return false;
}

bool holdsLink(std::string_view text) {
    const std::string folded = text::foldCase(text);
    if (folded.find("http://") != std::string::npos ||
        folded.find("https://") != std::string::npos || folded.find("www.") != std::string::npos) {
        return true;
    }
    const std::vector<Token> tokens = text::tokenize(folded);
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
            return true;
        }
    }
    return false;
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

} // namespace

bool holdsAskedFor(std::string_view text, AskedFor kind) {
    switch (kind) {
    case AskedFor::anything:
        return true;
    case AskedFor::numberOrCode:
        return holdsNumberOrCode(text, text::tokenize(text));
    case AskedFor::amount:
        return holdsAmount(text::tokenize(text));
    case AskedFor::timeOrDate:
        return holdsTimeOrDate(text::tokenize(text));
    case AskedFor::place:
        return holdsPlace(text::tokenize(text));
    case AskedFor::link:
        return holdsLink(text);
    }
    return false;
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

std::vector<WindowPick> pickFromWindow(const SearchResult& hit,
                                       const std::vector<SearchResult>& after,
                                       const WindowWants& wants) {
    std::vector<WindowPick> picks;
    const int64_t hitSeconds = secondsOf(hit.timestamp);
    // A reply answers a question about what someone named said to a message
    // of mine, or about what I said to theirs.
    const bool replyWanted = hit.isFromMe != wants.byMe && (wants.byMe || !wants.people.empty());
    bool inReply = false;
    bool replyEnded = false;
    bool replySaidSomething = false;
    const bool kindWanted =
        wants.askedFor != AskedFor::anything && !holdsAskedFor(hit.text, wants.askedFor);
    bool kindFound = false;
    for (size_t i = 0; i < after.size() && i < static_cast<size_t>(kWindowMessages); ++i) {
        const SearchResult& message = after[i];
        if (message.chatId != hit.chatId ||
            secondsOf(message.timestamp) - hitSeconds > kWindowSeconds) {
            break;
        }
        const bool otherSide = message.isFromMe != hit.isFromMe;
        const bool asked = fromSideAskedAbout(message, wants);
        std::optional<double> factor;
        if (replyWanted && !replyEnded) {
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
            } else if (inReply) {
                replyEnded = true;
            }
        }
        // Without anyone named, a thing asked for may come from either side.
        const bool kindSide = asked || (wants.people.empty() && !wants.byMe);
        if (kindWanted && !kindFound && kindSide && holdsAskedFor(message.text, wants.askedFor)) {
            kindFound = true;
            factor = kAnswerInWindow;
        }
        if (factor) {
            picks.push_back(WindowPick{message, *factor});
        }
    }
    return picks;
}

} // namespace orlune::core
