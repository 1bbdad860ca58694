#include "base/SpacelessText.hpp"

#include <array>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

namespace orlune::core {

namespace {

constexpr std::array<UScriptCode, 9> kSpacelessScripts = {
    USCRIPT_HAN,    USCRIPT_HIRAGANA, USCRIPT_KATAKANA,
    USCRIPT_HANGUL, USCRIPT_THAI,     USCRIPT_LAO,
    USCRIPT_KHMER,  USCRIPT_MYANMAR,  USCRIPT_KATAKANA_OR_HIRAGANA,
};

bool isMark(UChar32 c) {
    return (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

bool isSpaceless(UChar32 c) {
    // ASCII first: most text is, and it is in none of those scripts.
    if (c < 0x80 || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_NL_MASK)) == 0) {
        return false;
    }
    for (UScriptCode script : kSpacelessScripts) {
        if (uscript_hasScript(c, script)) {
            return true;
        }
    }
    return false;
}

// Calls `visit(c, start, end)` for each character of `text` (c < 0 for an
// ill-formed byte).
template <typename Visit> void forEachCharacter(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        visit(c, static_cast<size_t>(start), static_cast<size_t>(i));
    }
}

} // namespace

bool SpacelessText::contains(std::string_view text) {
    bool found = false;
    forEachCharacter(
        text, [&](UChar32 c, size_t, size_t) { found = found || (c >= 0 && isSpaceless(c)); });
    return found;
}

std::string SpacelessText::spaced(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    bool afterSpaceless = false; // the last character copied was one (or its mark)
    forEachCharacter(text, [&](UChar32 c, size_t start, size_t end) {
        const std::string_view bytes = text.substr(start, end - start);
        if (c >= 0 && afterSpaceless && isMark(c)) {
            out.append(bytes);
            return;
        }
        const bool spaceless = c >= 0 && isSpaceless(c);
        const bool apart = spaceless || afterSpaceless;
        if (apart && !out.empty() && out.back() != ' ' && (c < 0 || !u_isUWhiteSpace(c))) {
            out += ' ';
        }
        out.append(bytes);
        afterSpaceless = spaceless;
    });
    return out;
}

std::vector<std::string> SpacelessText::words(std::string_view text) {
    std::vector<std::string> out;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) {
        return out;
    }
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    breaks->setText(unicode);
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE;
         start = end, end = breaks->next()) {
        if (breaks->getRuleStatus() == UBRK_WORD_NONE) {
            continue; // spaces and punctuation
        }
        std::string word;
        unicode.tempSubStringBetween(start, end).toUTF8String(word);
        out.push_back(std::move(word));
    }
    return out;
}

size_t SpacelessText::letters(std::string_view word) {
    size_t count = 0;
    forEachCharacter(word,
                     [&](UChar32 c, size_t, size_t) { count += c < 0 || !isMark(c) ? 1 : 0; });
    return count;
}

} // namespace orlune::core
