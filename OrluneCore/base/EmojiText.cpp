#include "base/EmojiText.hpp"

#include <algorithm>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace orlune::core {

namespace {

constexpr UChar32 kTextPresentation = 0xFE0E;
constexpr UChar32 kEmojiPresentation = 0xFE0F;
constexpr UChar32 kKeycap = 0x20E3;
constexpr UChar32 kFirstSkinTone = 0x1F3FB;
constexpr UChar32 kLastSkinTone = 0x1F3FF;

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One grapheme cluster of the text: where it lies, in UTF-16 units.
struct Cluster {
    int32_t start = 0;
    int32_t end = 0;
};

// The grapheme clusters of `text` that are emoji. Making a break iterator
// costs far more than using one: one is kept per thread.
std::vector<Cluster> emojiClusters(const icu::UnicodeString& text) {
    std::vector<Cluster> found;
    thread_local const std::unique_ptr<icu::BreakIterator> cached = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_FAILURE(status) ? nullptr : std::move(made);
    }();
    if (cached == nullptr) {
        return found;
    }
    cached->setText(text);
    int32_t start = cached->first();
    for (int32_t end = cached->next(); end != icu::BreakIterator::DONE;
         start = end, end = cached->next()) {
        const UChar32 first = text.char32At(start);
        bool emoji = u_hasBinaryProperty(first, UCHAR_EXTENDED_PICTOGRAPHIC) ||
                     u_hasBinaryProperty(first, UCHAR_REGIONAL_INDICATOR);
        for (int32_t i = start; !emoji && i < end; i = text.moveIndex32(i, 1)) {
            emoji = text.char32At(i) == kKeycap;
        }
        if (emoji) {
            found.push_back({start, end});
        }
    }
    return found;
}

// The cluster as UTF-8 without variation selectors and, when `withTones` is
// false, without skin tones.
std::string render(const icu::UnicodeString& text, const Cluster& cluster, bool withTones) {
    icu::UnicodeString kept;
    for (int32_t i = cluster.start; i < cluster.end; i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (c == kTextPresentation || c == kEmojiPresentation ||
            (!withTones && c >= kFirstSkinTone && c <= kLastSkinTone)) {
            continue;
        }
        kept.append(c);
    }
    std::string out;
    kept.toUTF8String(out);
    return out;
}

void addOnce(std::vector<std::string>& list, std::string item) {
    if (!item.empty() && std::find(list.begin(), list.end(), item) == list.end()) {
        list.push_back(std::move(item));
    }
}

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

} // namespace

std::vector<std::string> EmojiText::emojiIn(std::string_view text) {
    std::vector<std::string> emoji;
    if (isAscii(text)) {
        return emoji;
    }
    const icu::UnicodeString unicode = fromUtf8(text);
    for (const Cluster& cluster : emojiClusters(unicode)) {
        addOnce(emoji, render(unicode, cluster, true));
    }
    return emoji;
}

std::vector<std::string> EmojiText::indexKeys(std::string_view text) {
    std::vector<std::string> keys;
    if (isAscii(text)) {
        return keys;
    }
    const icu::UnicodeString unicode = fromUtf8(text);
    for (const Cluster& cluster : emojiClusters(unicode)) {
        addOnce(keys, render(unicode, cluster, true));
        addOnce(keys, render(unicode, cluster, false));
    }
    return keys;
}

std::string EmojiText::withoutEmoji(std::string_view text) {
    if (isAscii(text)) {
        return std::string(text);
    }
    icu::UnicodeString unicode = fromUtf8(text);
    const std::vector<Cluster> clusters = emojiClusters(unicode);
    for (auto it = clusters.rbegin(); it != clusters.rend(); ++it) {
        unicode.replace(it->start, it->end - it->start, u' ');
    }
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

} // namespace orlune::core
