// Which emoji a text holds, as the search index keeps them.

#include "base/EmojiText.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using List = std::vector<std::string>;

TEST(EmojiTextTest, EmojiAreWholeCharactersWithoutVariationSelectors) {
    const struct {
        const char* name;
        std::string text;
        List emoji;
        List keys;
    } cases[] = {
        {"plain text", "see you at 5, ok?", {}, {}},
        {"accents are not emoji", "café crème", {}, {}},
        {"repeated, in order",
         "\U0001F355 a \U0001F389\U0001F355",
         {"\U0001F355", "\U0001F389"},
         {"\U0001F355", "\U0001F389"}},
        {"variation selectors go", "\u2764\uFE0F and \u2764\uFE0E", {"\u2764"}, {"\u2764"}},
        {"a skin tone is kept, and indexed without too",
         "\U0001F44D\U0001F3FD",
         {"\U0001F44D\U0001F3FD"},
         {"\U0001F44D\U0001F3FD", "\U0001F44D"}},
        {"a joined sequence is one emoji",
         "\U0001F469\U0001F3FB\u200D\U0001F4BB!",
         {"\U0001F469\U0001F3FB\u200D\U0001F4BB"},
         {"\U0001F469\U0001F3FB\u200D\U0001F4BB", "\U0001F469\u200D\U0001F4BB"}},
        {"a flag is one emoji, two flags two",
         "\U0001F1EB\U0001F1F7\U0001F1EF\U0001F1F5",
         {"\U0001F1EB\U0001F1F7", "\U0001F1EF\U0001F1F5"},
         {"\U0001F1EB\U0001F1F7", "\U0001F1EF\U0001F1F5"}},
        {"a keycap", "press 1\uFE0F\u20E3", {"1\u20E3"}, {"1\u20E3"}},
        {"a lone joiner or selector is nothing", "a\u200Db\uFE0F", {}, {}},
        {"ill-formed bytes are skipped",
         std::string("\xFF\xFE ") + "\U0001F355",
         {"\U0001F355"},
         {"\U0001F355"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EmojiText::emojiIn(c.text), c.emoji) << c.name;
        EXPECT_EQ(EmojiText::indexKeys(c.text), c.keys) << c.name;
    }
}

TEST(EmojiTextTest, WithoutEmojiLeavesTheWords) {
    EXPECT_EQ(EmojiText::withoutEmoji("pizza \U0001F355\U0001F355 tonight"), "pizza    tonight");
    EXPECT_EQ(EmojiText::withoutEmoji("\u2764\uFE0F"), " ");
    EXPECT_EQ(EmojiText::withoutEmoji("no emoji here"), "no emoji here");
}

} // namespace
} // namespace orlune::core
