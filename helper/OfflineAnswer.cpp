#include "helper/OfflineAnswer.hpp"

#include "answer/AnswerWindows.hpp"
#include "base/TextFold.hpp"
#include "helper/MessageFormat.hpp"
#include "shadow/MatchExpression.hpp"

#include <algorithm>
#include <set>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace orlune::helper {

namespace {

constexpr size_t kMaxWords = 16;
// A longer run of letters is a pasted token or hash, not a word to search
// for; leaving it out keeps the expression well within the search bounds.
constexpr size_t kMaxWordBytes = 64;

const std::set<std::string>& stopWords() {
    static const std::set<std::string> words = {
        "a",        "about",    "above",   "anybody",   "anyone",  "aren",     "everybody",
        "everyone", "somebody", "someone", "couldn",    "didn",    "doesn",    "hasn",
        "haven",    "isn",      "shouldn", "wasn",      "weren",   "won",      "wouldn",
        "after",    "again",    "against", "all",       "am",      "an",       "and",
        "any",      "anything", "are",     "as",        "at",      "be",       "because",
        "been",     "before",   "being",   "below",     "between", "both",     "but",
        "by",       "can",      "could",   "did",       "do",      "does",     "doing",
        "don",      "down",     "during",  "each",      "ever",    "every",    "few",
        "for",      "from",     "further", "get",       "got",     "had",      "has",
        "have",     "having",   "he",      "her",       "here",    "hers",     "herself",
        "him",      "himself",  "his",     "how",       "i",       "if",       "in",
        "into",     "is",       "it",      "its",       "itself",  "just",     "know",
        "let",      "ll",       "me",      "more",      "most",    "my",       "myself",
        "no",       "nor",      "not",     "now",       "of",      "off",      "on",
        "once",     "only",     "or",      "other",     "our",     "ours",     "ourselves",
        "out",      "over",     "own",     "re",        "s",       "same",     "she",
        "should",   "so",       "some",    "something", "such",    "t",        "tell",
        "than",     "that",     "the",     "their",     "theirs",  "them",     "themselves",
        "then",     "there",    "these",   "they",      "this",    "those",    "through",
        "to",       "too",      "under",   "until",     "up",      "us",       "ve",
        "very",     "was",      "we",      "were",      "what",    "whats",    "when",
        "where",    "which",    "while",   "who",       "whom",    "why",      "will",
        "with",     "would",    "you",     "your",      "yours",   "yourself", "yourselves"};
    return words;
}

bool isWordCodePoint(UChar32 c) {
    return u_isalnum(c) || u_hasBinaryProperty(c, UCHAR_ALPHABETIC);
}

void appendCodePoint(std::string& out, UChar32 c) {
    char buffer[U8_MAX_LENGTH];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, U8_MAX_LENGTH, c, error);
    if (!error) {
        out.append(buffer, static_cast<size_t>(length));
    }
}

bool isSingleLetter(const std::string& word) {
    if (word.empty()) {
        return true;
    }
    int32_t index = 0;
    UChar32 c = 0;
    U8_NEXT(word.data(), index, static_cast<int32_t>(word.size()), c);
    return index == static_cast<int32_t>(word.size()) && !u_isdigit(c);
}

} // namespace

std::vector<std::string> questionWords(std::string_view question) {
    std::vector<std::string> words;
    std::set<std::string> seen;
    std::string current;
    auto finish = [&] {
        if (!current.empty() && current.size() <= kMaxWordBytes && !isSingleLetter(current) &&
            stopWords().count(current) == 0 && seen.insert(current).second &&
            words.size() < kMaxWords) {
            words.push_back(current);
        }
        current.clear();
    };
    const auto* bytes = reinterpret_cast<const uint8_t*>(question.data());
    const auto length = static_cast<int32_t>(question.size());
    int32_t index = 0;
    while (index < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, index, length, c);
        if (c >= 0 && isWordCodePoint(c)) {
            appendCodePoint(current, u_tolower(c));
        } else {
            finish();
        }
    }
    finish();
    return words;
}

std::string matchExpression(const std::vector<std::string>& words) {
    std::string expression;
    for (const std::string& word : words) {
        if (!expression.empty()) {
            expression += " OR ";
        }
        expression += core::MatchExpression::quoted(word);
    }
    return expression;
}

namespace {

// "1. <message>" lines, with "(and N more like it)" after a text sent
// several times.
std::string numberedMessages(const std::vector<MessageHit>& hits) {
    std::string lines;
    for (size_t i = 0; i < hits.size(); ++i) {
        lines += '\n';
        lines += std::to_string(i + 1);
        lines += ". ";
        lines += describeMessage(hits[i]);
        if (hits[i].sameText > 0) {
            lines += " (and " + std::to_string(hits[i].sameText) + " more like it)";
        }
    }
    return lines;
}

// The answer from the question's words alone, for tools that cannot read
// questions.
std::string answerFromWords(ShadowTools& tools, std::string_view question, int limit) {
    std::vector<std::string> words = questionWords(question);
    if (words.empty()) {
        return "Your question has no words to search for. Try naming a person, a place or a "
               "topic.";
    }
    std::string quoted;
    for (const std::string& word : words) {
        quoted += (quoted.empty() ? "\"" : ", \"") + word + '"';
    }
    std::vector<MessageHit> hits = tools.search(matchExpression(words), limit);
    if (hits.empty()) {
        return "No messages were found for " + quoted + ".";
    }
    return "The messages that best match " + quoted + ":" + numberedMessages(hits);
}

} // namespace

std::optional<std::string> statedAnswer(const AnswerHits& found) {
    if (found.hits.empty() || found.widened) {
        return std::nullopt;
    }
    const MessageHit& best = found.hits.front();
    if (found.when == core::WhenAsked::latest || found.when == core::WhenAsked::first) {
        return senderLabel(best) +
               (found.when == core::WhenAsked::latest ? " last wrote " : " first wrote ") +
               messageTimeInSentence(best.timestamp) + ": " + quotedText(best);
    }
    if (found.askedFor == core::AskedFor::anything) {
        return std::nullopt;
    }
    const std::optional<std::string> thing = core::askedForIn(best.text, found.askedFor);
    if (!thing) {
        return std::nullopt;
    }
    if (found.hits.size() > 1) {
        const std::optional<std::string> other =
            core::askedForIn(found.hits[1].text, found.askedFor);
        if (other && core::text::foldCase(*other) != core::text::foldCase(*thing)) {
            return std::nullopt;
        }
    }
    return *thing + " (" + senderLabel(best) + ", " + formatMessageTime(best.timestamp) +
           "): " + quotedText(best);
}

std::string answerFromIndex(ShadowTools& tools, std::string_view question,
                            const std::string& reason, int limit, std::vector<MessageHit>* cited) {
    // One short first line: the application shows it once per conversation.
    const std::string answer = "Answer from your messages (no model used: " + reason + ")\n\n";
    std::optional<AnswerHits> found = tools.findAnswer(question, limit);
    if (!found) {
        return answer + answerFromWords(tools, question, limit);
    }
    if (found->nothingToLookFor) {
        return answer + "Your question has no words to search for. Try naming a person, a "
                        "place, a time or a topic.";
    }
    if (cited != nullptr) {
        *cited = found->hits;
    }
    // Why nothing is there for the question's time, before what was found.
    const std::string outside = found->outsideCopied.empty() ? "" : found->outsideCopied + " ";
    if (found->hits.empty()) {
        return answer + outside + "No messages were found. I looked for " + found->understood + ".";
    }
    if (found->widened) {
        const std::string where = found->widenedTo.empty()
                                      ? "these messages match its words elsewhere"
                                      : "these are " + found->widenedTo;
        return answer + outside + "Nothing matched " + found->understood + "; " + where + ":" +
               numberedMessages(found->hits);
    }
    const std::optional<std::string> stated = statedAnswer(*found);
    return answer + (stated ? *stated + "\n\n" : "") + outside + "I looked for " +
           found->understood + ". The best matches:" + numberedMessages(found->hits);
}

} // namespace orlune::helper
