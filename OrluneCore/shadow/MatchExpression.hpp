#pragma once
// The size of an FTS5 MATCH expression, counted the way the search bounds
// (QueryBounds) count it, before FTS5 is given the expression: FTS5 does the
// work of one expression largely in calls that no progress handler
// interrupts, so an expression of thirty thousand terms is refused rather
// than started.

#include "sql/QueryBounds.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::core {

class MatchExpression {
public:
    struct Size {
        // Words the index is asked for: each run of letters and digits in a
        // bareword or a quoted phrase ("a b" names two). Operators (AND, OR,
        // NOT), NEAR and its distance, column names before ':' or inside
        // {...} and punctuation are not terms.
        size_t terms = 0;
        // Terms marked as prefixes: the last word of a bareword or quoted
        // string followed by '*' (word*, "a phras"*).
        size_t prefixTerms = 0;
        bool operator==(const Size&) const = default;
    };

    // Reads `expression` with FTS5's own token rules (up to its first NUL, as
    // FTS5 does). Never fails: text FTS5 would reject is counted as far as it
    // goes.
    static Size measure(std::string_view expression);

    // `expression` with every bareword that holds dots between its letters
    // (a file name: lease.pdf, IMG_0042.HEIC) made a quoted string, which
    // FTS5 reads as the phrase of its words ("lease pdf") instead of
    // rejecting the dot. Text inside quotes and every other bareword are
    // left as they are; an expression without such a word comes back
    // unchanged.
    static std::string withFileNamesQuoted(std::string_view expression);

    // Whether `expression` takes words out with NOT (outside quoted strings).
    static bool usesNot(std::string_view expression);

    // Whether `expression` joins its words only by AND, written or implied:
    // no OR, NOT or NEAR and no parentheses outside quoted strings.
    static bool joinsOnlyByAnd(std::string_view expression);

    // `text` as one FTS5 string: in double quotes, each quote inside doubled.
    // FTS5 reads it as the phrase of its words, whatever characters it holds.
    static std::string quoted(std::string_view text);

    // Whether every quoted string and every parenthesis of `expression` is
    // closed, and no parenthesis closes one never opened: such an expression
    // means the same inside parentheses, as part of a larger one.
    static bool closesEveryGroup(std::string_view expression);

    // `expression` with each AND operator outside quoted strings blanked
    // out; words side by side mean the same, and no AND is left dangling
    // when words are taken out of the expression.
    static std::string withoutAndOperators(std::string_view expression);

    // `expression` as the index of spaced text (SpacelessText::spaced) reads
    // it: each bareword holding a character of a script written without
    // spaces becomes the quoted phrase of its spaced form (火锅 → "火 锅",
    // 吃火锅* → "吃 火 锅"*), and quoted strings are spaced inside, so a
    // phrase finds those characters side by side anywhere in a text.
    // Operators, column names and every other bareword are left as they are.
    static std::string forSpacedIndex(std::string_view expression);

    // Why `expression` is beyond `bounds` (its length in bytes, its terms or
    // its prefix terms), as a sentence; absent when it is within them.
    static std::optional<std::string> refusal(std::string_view expression,
                                              const QueryBounds& bounds);
};

} // namespace orlune::core
