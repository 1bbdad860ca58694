#pragma once
// UTF-8 helpers shared by the readers of both databases and the decoder.

#include <string>
#include <string_view>

namespace orlune::core::utf8 {

// `bytes` as well-formed UTF-8: every ill-formed sequence becomes U+FFFD.
// Well-formed input comes back unchanged.
std::string sanitize(std::string_view bytes);

// True when `bytes` is well-formed UTF-8.
bool isValid(std::string_view bytes);

// The longest start of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 character (the whole text when it fits).
std::string_view prefixWithin(std::string_view text, size_t maxBytes);

// The number of code points in `text`; each byte of an ill-formed sequence
// that is not a continuation byte counts as one.
size_t codePointCount(std::string_view text);

// True when at least one user-perceived character (extended grapheme cluster)
// of `text` is content a person wrote: its first scalar is Alphabetic, has a
// Numeric_Type, is Extended_Pictographic (emoji such as 😂 ❤️ 🙏) or is a
// Regional_Indicator (the halves of a flag such as 🇫🇷). Punctuation, spaces,
// symbols such as U+FFFC, and emoji parts that never start a character (skin
// tones, variation selectors, joiners) are not.
bool hasContent(std::string_view text);

} // namespace orlune::core::utf8
