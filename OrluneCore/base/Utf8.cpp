#include "base/Utf8.hpp"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace orlune::core::utf8 {

std::string sanitize(std::string_view bytes) {
    if (isValid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT_OR_FFFD(s, i, length, c);
        char buffer[U8_MAX_LENGTH];
        int32_t n = 0;
        U8_APPEND_UNSAFE(buffer, n, c);
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool isValid(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

std::string_view prefixWithin(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    size_t end = maxBytes;
    // Step back over continuation bytes to the start of the cut character,
    // at most three of them: ill-formed input is cut where it is.
    for (int i = 0; i < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80;
         ++i) {
        --end;
    }
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        end = maxBytes;
    }
    return text.substr(0, end);
}

namespace {

bool startsContent(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE ||
           u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC) ||
           u_hasBinaryProperty(c, UCHAR_REGIONAL_INDICATOR);
}

} // namespace

bool hasContent(std::string_view text) {
    // Fast path for pure ASCII, where every character is a cluster of its own
    // and none is an emoji.
    bool ascii = true;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        if ((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) {
            return true;
        }
    }
    if (ascii) {
        return false;
    }
    icu::UnicodeString ustr = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    // Making a character break iterator costs far more than using one, and
    // the reader asks once per non-ASCII message: keep one per thread.
    thread_local const std::unique_ptr<icu::BreakIterator> cached = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_FAILURE(status) ? nullptr : std::move(made);
    }();
    icu::BreakIterator* clusters = cached.get();
    if (clusters == nullptr) {
        for (int32_t i = 0; i < ustr.length(); i = ustr.moveIndex32(i, 1)) {
            if (startsContent(ustr.char32At(i))) {
                return true;
            }
        }
        return false;
    }
    clusters->setText(ustr);
    for (int32_t start = clusters->first(); start != icu::BreakIterator::DONE;
         start = clusters->next()) {
        if (start >= ustr.length()) {
            break;
        }
        if (startsContent(ustr.char32At(start))) {
            return true;
        }
    }
    return false;
}

size_t codePointCount(std::string_view text) {
    size_t count = 0;
    for (char c : text) {
        // Every byte but a continuation byte (10xxxxxx) starts a character.
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

} // namespace orlune::core::utf8
