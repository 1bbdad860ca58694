#include "store/MessageText.hpp"

#include <gtest/gtest.h>
#include <string>

namespace orlune::core {
namespace {

const std::string kObject = "\xEF\xBF\xBC";      // U+FFFC
const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD

TEST(MessageText, PlaceholdersAreRemovedAndWhatTheyLeaveIsTrimmed) {
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"no placeholder keeps its own spaces", "  as typed \n", "  as typed \n"},
        {"a placeholder alone", kObject, ""},
        {"several attachments, no caption", kObject + kObject + kObject, ""},
        {"caption after the attachment", kObject + "here's the signed lease",
         "here's the signed lease"},
        {"caption after a line break", kObject + "\n" + kObject + "\nTwo photos", "Two photos"},
        {"caption before the attachment", "Look at this " + kObject, "Look at this"},
        {"between spaces leaves one space", "before " + kObject + " after", "before after"},
        {"between words becomes a space", "before" + kObject + "after", "before after"},
        {"space on one side only", "before" + kObject + " after", "before after"},
        {"line break kept from the left side", "one\n" + kObject + "\ntwo", "one\ntwo"},
        {"app balloon placeholder", kReplacement + "Sent with Check In", "Sent with Check In"},
        {"mixed run", "a" + kObject + kReplacement + kObject + "b", "a b"},
        {"trimmed only when a placeholder went", "  " + kObject + " hi  ", "hi"},
        {"other characters untouched", kObject + "Zoë 🎉 “quoted”", "Zoë 🎉 “quoted”"},
        {"a look-alike prefix is not a placeholder", "\xEF\xBF\xBB" + std::string("x"),
         "\xEF\xBF\xBBx"},
        {"cut placeholder bytes at the end stay", "hi\xEF\xBF", "hi\xEF\xBF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(withoutPlaceholders(c.text), c.expected) << c.name;
    }
}

} // namespace
} // namespace orlune::core
