#include "base/Utf8.hpp"

#include <gtest/gtest.h>
#include <string>

namespace orlune::core::utf8 {
namespace {

TEST(Utf8, ContentIsALetterANumberOrAnEmoji) {
    struct Case {
        const char* text;
        bool content;
    };
    const Case cases[] = {
        {"", false},
        {" \n\t", false},
        {"?!...", false},
        {"#*", false}, // keycap bases, not emoji on their own
        {"a", true},
        {"Zoë", true},
        {"42", true},
        {"٣", true},  // Arabic-Indic digit
        {"漢", true}, // ideograph
        {"😂", true},
        {"❤️", true},                    // heart and variation selector
        {"🙏🏽", true},                  // with a skin tone
        {"👨‍👩‍👧", true},        // joined sequence
        {"🇫🇷", true},                        // flag: two regional indicators
        {"1️⃣", true},                   // keycap
        {"?! 🎉", true},                      // emoji among punctuation
        {"\xEF\xBF\xBC", false},             // U+FFFC, the attachment placeholder
        {"\xEF\xBF\xBD", false},             // U+FFFD
        {"\xE2\x80\x8D\xEF\xB8\x8F", false}, // a joiner and a variation selector alone
        {"\xF0\x9F\x8F\xBD", false},         // a skin tone alone
        {"→ …", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hasContent(c.text), c.content) << c.text;
    }
}

} // namespace
} // namespace orlune::core::utf8
