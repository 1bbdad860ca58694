#pragma once
// Text in scripts written without spaces between words (Han, kana, Hangul,
// Thai, Lao, Khmer, Myanmar), made findable by its parts.
//
// The default full-text tokenizer keeps a run of such letters as one token:
// "明天我们去吃火锅吧" is one word, so 火锅 never finds it. The shadow database
// therefore also indexes these messages with each such character set apart
// by spaces ("明 天 我 们 去 吃 火 锅 吧"), and a query is set apart the same
// way: the phrase "火 锅" then finds exactly the texts that hold 火锅, at any
// place, whatever its length (one character included). Korean is written
// with spaces, but a word carries its particles (회의는): 회의 finds it the
// same way. Letters of other scripts are left as they are, and a run of them
// next to such a character becomes a word of its own (今日はZoomで → 今 日 は
// Zoom で), so "Zoom" finds it too.
//
// A character is one of these when it is a letter or letter-like number
// (〇) whose script, or one of its script extensions, is among those above
// (so the prolonged sound mark ー counts, and ideographic punctuation 、。does
// not); combining marks after it (Thai vowels and tones, kana voicing marks)
// stay with it.
//
// Pure functions; safe on any thread. Ill-formed UTF-8 bytes are copied
// unchanged and count as other text.

#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

class SpacelessText {
public:
    SpacelessText() = delete;

    // Whether `text` holds at least one such character.
    static bool contains(std::string_view text);

    // `text` with each such character (and its combining marks) set apart
    // from what stands before and after it by one space. Text without any
    // comes back unchanged.
    static std::string spaced(std::string_view text);

    // The words of `text` as a reader would cut it: runs of such characters
    // at the word boundaries of ICU's dictionaries for Chinese, Japanese,
    // Thai, Lao, Khmer and Burmese (明天我们去吃火锅 → 明天, 我们, 去, 吃, 火锅;
    // Korean at its spaces, particles included), other words as they are;
    // punctuation and spaces left out. For reading a question: the index
    // finds a text by any run of its characters, so how a text was cut
    // never matters there.
    static std::vector<std::string> words(std::string_view text);

    // The number of characters of `word`, combining marks not counted.
    static size_t letters(std::string_view word);
};

} // namespace orlune::core
