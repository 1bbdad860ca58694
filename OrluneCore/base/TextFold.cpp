#include "base/TextFold.hpp"

#include "base/AsciiText.hpp"

#include <limits>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace orlune::core::text {

namespace {

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool isApostrophe(UChar32 c) {
    return c == '\'' || c == 0x2019 || c == 0x02BC;
}

bool isMark(UChar32 c) {
    return (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

bool isWordLetter(UChar32 c) {
    return u_isalpha(c) != 0;
}

// The code point at byte `at` of `text` and the offset after it; a negative
// code point for an ill-formed sequence (which then spans at least one byte).
UChar32 codePointAt(std::string_view text, size_t at, size_t& next) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto i = static_cast<int32_t>(at);
    const auto length = static_cast<int32_t>(text.size());
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    next = static_cast<size_t>(i);
    return c;
}

} // namespace

std::string fold(std::string_view text) {
    // Most names and words are ASCII: no trip through UTF-16 for them.
    if (isAscii(text)) {
        return ascii::lower(text);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return foldCase(text);
    }
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    const icu::UnicodeString decomposed = nfd->normalize(source, status);
    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) == U_NON_SPACING_MARK) {
            continue;
        }
        bare.append(isApostrophe(c) ? UChar32{'\''} : c);
    }
    bare.foldCase(U_FOLD_CASE_DEFAULT);
    const icu::UnicodeString composed = nfc->normalize(bare, status);
    std::string key;
    (U_SUCCESS(status) ? composed : bare).toUTF8String(key);
    return key;
}

std::string foldCase(std::string_view text) {
    if (isAscii(text)) {
        return ascii::lower(text);
    }
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    source.foldCase(U_FOLD_CASE_DEFAULT);
    std::string key;
    source.toUTF8String(key);
    return key;
}

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    bool spaceBefore = true;
    size_t at = 0;
    while (at < text.size()) {
        size_t next = 0;
        const UChar32 c = codePointAt(text, at, next);
        if (c >= 0 && u_isUWhiteSpace(c)) {
            spaceBefore = true;
            at = next;
            continue;
        }
        Token token;
        token.begin = at;
        token.spaceBefore = spaceBefore;
        spaceBefore = false;
        if (c >= 0 && isWordLetter(c)) {
            token.kind = TokenKind::word;
            token.capitalised = u_isupper(c) || u_istitle(c);
            size_t wordEnd = next;
            size_t end = next;
            while (end < text.size()) {
                size_t after = 0;
                const UChar32 d = codePointAt(text, end, after);
                if (d >= 0 && (isWordLetter(d) || isMark(d))) {
                    end = wordEnd = after;
                    continue;
                }
                if (d < 0 || !isApostrophe(d) || after >= text.size()) {
                    break;
                }
                size_t afterLetter = 0;
                const UChar32 e = codePointAt(text, after, afterLetter);
                if (e < 0 || !isWordLetter(e)) {
                    break;
                }
                size_t beyond = 0;
                const UChar32 f =
                    afterLetter < text.size() ? codePointAt(text, afterLetter, beyond) : -1;
                const bool endsThere = afterLetter >= text.size() || f < 0 ||
                                       !(isWordLetter(f) || isMark(f) || isApostrophe(f));
                if ((e == 's' || e == 'S') && endsThere) {
                    token.possessive = true;
                    end = afterLetter;
                    break;
                }
                end = wordEnd = afterLetter; // an inner apostrophe: "o'brien", "don't"
            }
            token.folded = fold(text.substr(at, wordEnd - at));
            token.end = end;
        } else if (c >= 0 && u_isdigit(c)) {
            token.kind = TokenKind::number;
            size_t end = at;
            constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
            while (end < text.size()) {
                size_t after = 0;
                const UChar32 d = codePointAt(text, end, after);
                if (d < 0 || !u_isdigit(d)) {
                    break;
                }
                const int digit = u_charDigitValue(d);
                token.folded += static_cast<char>('0' + digit);
                token.value = token.value > (kMax - digit) / 10 ? kMax : token.value * 10 + digit;
                ++token.digits;
                end = after;
            }
            token.end = end;
        } else {
            token.kind = TokenKind::symbol;
            token.end = next;
            token.folded =
                c < 0 ? std::string("\xEF\xBF\xBD") : std::string(text.substr(at, next - at));
        }
        at = token.end;
        tokens.push_back(std::move(token));
    }
    return tokens;
}

} // namespace orlune::core::text
