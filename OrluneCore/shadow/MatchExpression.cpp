#include "shadow/MatchExpression.hpp"

#include "base/SpacelessText.hpp"

#include <algorithm>
#include <cstring>

namespace orlune::core {

namespace {

// FTS5's bareword characters: ASCII letters, digits, '_', 0x1A and every byte
// of a multi-byte character.
bool isBareword(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z') || c == '_' || c == 0x1A;
}

// What the default tokenizer keeps as part of a word: letters and digits
// (every non-ASCII byte is taken for one, which can only merge words).
bool isWordByte(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t wordsIn(std::string_view text) {
    size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        const bool word = isWordByte(static_cast<unsigned char>(c));
        if (word && !inWord) {
            ++words;
        }
        inWord = word;
    }
    return words;
}

// The next character after `i` that is not white space, or '\0'.
char nextNonSpace(std::string_view text, size_t i) {
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    return i < text.size() ? text[i] : '\0';
}

// Where the quoted string that starts at `start` (a '"') ends: just after
// its closing quote, "" escapes included, or at the end of `text`.
size_t quotedStringEnd(std::string_view text, size_t start) {
    size_t end = start + 1;
    while (end < text.size()) {
        if (text[end] == '"') {
            if (end + 1 < text.size() && text[end + 1] == '"') {
                end += 2;
                continue;
            }
            break;
        }
        ++end;
    }
    return std::min(end + 1, text.size());
}

// Calls `visit(start, end)` for each bareword of `expression` outside quoted
// strings, and `other(i)` for every other character outside them.
template <typename Bareword, typename Other>
void scanOutsideQuotes(std::string_view expression, Bareword visit, Other other) {
    size_t i = 0;
    while (i < expression.size()) {
        const char c = expression[i];
        if (c == '"') {
            i = quotedStringEnd(expression, i);
        } else if (isBareword(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < expression.size() &&
                   isBareword(static_cast<unsigned char>(expression[end]))) {
                ++end;
            }
            visit(i, end);
            i = end;
        } else {
            other(i);
            ++i;
        }
    }
}

} // namespace

bool MatchExpression::usesNot(std::string_view expression) {
    bool found = false;
    scanOutsideQuotes(
        expression,
        [&](size_t start, size_t end) {
            found = found || expression.substr(start, end - start) == "NOT";
        },
        [](size_t) {});
    return found;
}

bool MatchExpression::joinsOnlyByAnd(std::string_view expression) {
    bool onlyAnd = true;
    scanOutsideQuotes(
        expression,
        [&](size_t start, size_t end) {
            const std::string_view word = expression.substr(start, end - start);
            onlyAnd = onlyAnd && word != "OR" && word != "NOT" && word != "NEAR";
        },
        [&](size_t at) { onlyAnd = onlyAnd && expression[at] != '(' && expression[at] != ')'; });
    return onlyAnd;
}

std::string MatchExpression::quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

bool MatchExpression::closesEveryGroup(std::string_view expression) {
    // Outside a string a quote opens one; inside, quotes come in "" pairs
    // until the one that closes it. So every string is closed exactly when
    // the quotes are even in number.
    if (std::count(expression.begin(), expression.end(), '"') % 2 != 0) {
        return false;
    }
    int open = 0;
    bool neverNegative = true;
    scanOutsideQuotes(
        expression, [](size_t, size_t) {},
        [&](size_t at) {
            open += expression[at] == '(' ? 1 : expression[at] == ')' ? -1 : 0;
            neverNegative = neverNegative && open >= 0;
        });
    return neverNegative && open == 0;
}

std::string MatchExpression::withoutAndOperators(std::string_view expression) {
    std::string out(expression);
    scanOutsideQuotes(
        expression,
        [&](size_t start, size_t end) {
            if (expression.substr(start, end - start) == "AND") {
                out.replace(start, end - start, end - start, ' ');
            }
        },
        [](size_t) {});
    return out;
}

std::string MatchExpression::withFileNamesQuoted(std::string_view expression) {
    std::string out;
    out.reserve(expression.size() + 8);
    size_t i = 0;
    while (i < expression.size()) {
        const char c = expression[i];
        if (c == '"') {
            // A quoted string, its "" escapes included, is copied whole.
            const size_t end = quotedStringEnd(expression, i);
            out.append(expression.substr(i, end - i));
            i = end;
            continue;
        }
        if (!isBareword(static_cast<unsigned char>(c))) {
            out += c;
            ++i;
            continue;
        }
        // A run of bareword characters and dots, each dot between two
        // bareword characters.
        size_t end = i;
        bool dotted = false;
        while (end < expression.size()) {
            const auto here = static_cast<unsigned char>(expression[end]);
            if (isBareword(here)) {
                ++end;
            } else if (here == '.' && end + 1 < expression.size() &&
                       isBareword(static_cast<unsigned char>(expression[end + 1]))) {
                dotted = true;
                ++end;
            } else {
                break;
            }
        }
        const std::string_view word = expression.substr(i, end - i);
        if (dotted) {
            out += '"';
            out.append(word);
            out += '"';
        } else {
            out.append(word);
        }
        i = end;
    }
    return out;
}

std::string MatchExpression::forSpacedIndex(std::string_view expression) {
    std::string out;
    out.reserve(expression.size() * 2);
    size_t i = 0;
    while (i < expression.size()) {
        const char c = expression[i];
        if (c == '"') {
            // Spacing adds spaces only next to such characters, so a ""
            // escape inside stays a pair.
            const size_t end = quotedStringEnd(expression, i);
            const bool closed = end - i >= 2 && expression[end - 1] == '"';
            out += '"';
            out += SpacelessText::spaced(expression.substr(i + 1, end - i - (closed ? 2 : 1)));
            out += closed ? "\"" : "";
            i = end;
        } else if (isBareword(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < expression.size() &&
                   isBareword(static_cast<unsigned char>(expression[end]))) {
                ++end;
            }
            const std::string_view word = expression.substr(i, end - i);
            out += SpacelessText::contains(word) ? quoted(SpacelessText::spaced(word))
                                                 : std::string(word);
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

MatchExpression::Size MatchExpression::measure(std::string_view expression) {
    expression = expression.substr(0, std::min(expression.size(), expression.find('\0')));
    Size size;
    size_t i = 0;
    bool inColumnSet = false;
    bool afterComma = false; // the bareword after a NEAR group's ',' is its distance
    size_t lastTerms = 0;    // terms of the string just read; a '*' after it marks a prefix
    while (i < expression.size()) {
        const char c = expression[i];
        if (isSpace(c)) {
            ++i;
            continue;
        }
        if (c == '"') {
            size_t end = i + 1;
            std::string phrase;
            while (end < expression.size()) {
                if (expression[end] == '"') {
                    if (end + 1 < expression.size() && expression[end + 1] == '"') {
                        phrase += ' ';
                        end += 2;
                        continue;
                    }
                    break;
                }
                phrase += expression[end];
                ++end;
            }
            lastTerms = wordsIn(phrase);
            if (!inColumnSet && nextNonSpace(expression, end + 1) != ':') {
                size.terms += lastTerms;
            } else {
                lastTerms = 0;
            }
            afterComma = false;
            i = end + 1;
            continue;
        }
        if (isBareword(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < expression.size() &&
                   isBareword(static_cast<unsigned char>(expression[end]))) {
                ++end;
            }
            const std::string_view word = expression.substr(i, end - i);
            const char after = nextNonSpace(expression, end);
            const bool isOperator =
                word == "AND" || word == "OR" || word == "NOT" || (word == "NEAR" && after == '(');
            lastTerms = 0;
            if (!isOperator && !inColumnSet && !afterComma && after != ':') {
                lastTerms = wordsIn(word);
                size.terms += lastTerms;
            }
            afterComma = false;
            i = end;
            continue;
        }
        afterComma = c == ',';
        if (c == '*') {
            // The mark applies to the last word of the string before it.
            size.prefixTerms += lastTerms > 0 ? 1 : 0;
        } else if (c == '{') {
            inColumnSet = true;
        } else if (c == '}') {
            inColumnSet = false;
        }
        lastTerms = 0;
        ++i;
    }
    return size;
}

std::optional<std::string> MatchExpression::refusal(std::string_view expression,
                                                    const QueryBounds& bounds) {
    if (expression.size() > bounds.maxMatchBytes) {
        return "The search expression is " + std::to_string(expression.size()) +
               " bytes long; at most " + std::to_string(bounds.maxMatchBytes) +
               " bytes are allowed";
    }
    const Size size = measure(expression);
    if (size.terms > bounds.maxMatchTerms) {
        return "The search expression has " + std::to_string(size.terms) + " terms; at most " +
               std::to_string(bounds.maxMatchTerms) + " are allowed";
    }
    if (size.prefixTerms > bounds.maxPrefixTerms) {
        return "The search expression has " + std::to_string(size.prefixTerms) +
               " prefix terms (word*); at most " + std::to_string(bounds.maxPrefixTerms) +
               " are allowed";
    }
    return std::nullopt;
}

} // namespace orlune::core
