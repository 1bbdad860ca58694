#pragma once
// The emoji of a text, as the shadow database indexes them: the full-text
// tokenizer drops emoji, so each message's emoji are kept in a table of their
// own (message_emoji) and a search's emoji are looked up there.
//
// An emoji is one user-perceived character (extended grapheme cluster)
// that starts with an Extended_Pictographic or Regional_Indicator scalar, or
// holds a keycap (U+20E3): 🍕, ❤️, 👍🏽, 👩‍💻, 🇫🇷, 1️⃣. It is kept
// without variation selectors (U+FE0E, U+FE0F), so ❤️ and ❤ are one emoji; skin tones stay,
// and the index also holds the emoji without them, so 👍 finds
// 👍🏽 while 👍🏽 finds only that tone. A joined sequence (👩‍💻) is one
// emoji: its parts are not found on their own.
//
// Pure functions; safe on any thread. Ill-formed UTF-8 is read as U+FFFD.

#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

class EmojiText {
public:
    EmojiText() = delete;

    // The emoji of `text` in order of first appearance, each once, without
    // variation selectors.
    static std::vector<std::string> emojiIn(std::string_view text);

    // What message_emoji holds for a message of `text`: emojiIn(text) and,
    // for those with skin tones, the same without them; each once.
    static std::vector<std::string> indexKeys(std::string_view text);

    // `text` with every emoji replaced by a space.
    static std::string withoutEmoji(std::string_view text);
};

} // namespace orlune::core
