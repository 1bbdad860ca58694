#pragma once
// Words of a text as people write them, for matching what a person typed
// against names and the words of time expressions: case- and accent-blind
// comparison keys, and a tokenizer that keeps each token's place in the text
// so that a caller can cut a matched phrase out of it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core::text {

// The comparison key of `text`: canonical decomposition, nonspacing marks
// (accents) removed, full Unicode case folding, then NFC. "Chloé", "CHLOE"
// and "chloe" give the same key; "Straße" gives "strasse". Typographic
// apostrophes (U+2019, U+02BC) become "'". Ill-formed UTF-8 becomes U+FFFD.
// Pure; any thread.
std::string fold(std::string_view text);

// Case folding alone (accents kept), for addresses such as e-mails.
std::string foldCase(std::string_view text);

enum class TokenKind {
    word,   // letters (with their marks); may hold inner apostrophes ("o'brien")
    number, // a run of decimal digits
    symbol, // any other single character that is not white space
};

struct Token {
    TokenKind kind = TokenKind::symbol;
    // word: fold() of its letters, without a trailing possessive; number: the
    // digits as ASCII; symbol: the character itself.
    std::string folded;
    // Byte offsets of the token in the tokenized text, [begin, end); a
    // possessive "'s" is inside.
    size_t begin = 0;
    size_t end = 0;
    // White space (or the start of the text) comes right before the token.
    bool spaceBefore = false;
    // word: it ends in a possessive "'s" / "’s" ("Jess's", "yesterday's").
    bool possessive = false;
    // word: its first letter is upper case or title case in the text.
    bool capitalised = false;
    // number: its value, saturated at INT64_MAX; digits: how many digits.
    int64_t value = 0;
    int digits = 0;
};

// Splits `text` (UTF-8; ill-formed bytes count as symbols) into tokens. White
// space separates tokens and is not a token. Pure; any thread.
std::vector<Token> tokenize(std::string_view text);

} // namespace orlune::core::text
