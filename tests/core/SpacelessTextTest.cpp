// Text in scripts written without spaces, set apart for the index of their
// parts, and search expressions read the same way.

#include "base/SpacelessText.hpp"

#include "shadow/MatchExpression.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

TEST(SpacelessTextTest, SetsApartEachCharacterOfTheseScriptsOnly) {
    const struct {
        const char* name;
        std::string text;
        bool contains;
        std::string spaced;
    } cases[] = {
        {"other scripts unchanged", "Café at 7? ok", false, "Café at 7? ok"},
        {"Han", "明天我们去吃火锅吧", true, "明 天 我 们 去 吃 火 锅 吧"},
        {"mixed with English", "明天 dinner at 7?", true, "明 天 dinner at 7?"},
        {"a word of another script glued on becomes its own", "今日はZoomで会議", true,
         "今 日 は Zoom で 会 議"},
        {"the prolonged sound mark is a letter, ideographic punctuation is not",
         "ラーメン、食べた。", true, "ラ ー メ ン 、 食 べ た 。"},
        {"Hangul keeps its particles apart", "회의는 내일", true, "회 의 는 내 일"},
        {"Thai vowels and tones stay with their letter", "สวัสดี", true, "ส วั ส ดี"},
        {"ill-formed bytes are copied",
         "a\xff"
         "火",
         true, "a\xff 火"},
        {"empty", "", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SpacelessText::contains(c.text), c.contains);
        EXPECT_EQ(SpacelessText::spaced(c.text), c.spaced);
    }
}

TEST(SpacelessTextTest, ExpressionsReadAsTheSpacedIndexReadsThem) {
    const struct {
        const char* name;
        std::string expression;
        std::string spaced;
    } cases[] = {
        {"other words unchanged", "dinner OR lunch NOT text:pizza*",
         "dinner OR lunch NOT text:pizza*"},
        {"a bareword becomes a phrase", "火锅", "\"火 锅\""},
        {"one character", "火", "\"火\""},
        {"a prefix keeps its mark", "吃火锅* dinner", "\"吃 火 锅\"* dinner"},
        {"mixed in one bareword", "iPhone手机", "\"iPhone 手 机\""},
        {"operators and columns around", "text : (東京 OR 大阪) NOT 雨",
         "text : (\"東 京\" OR \"大 阪\") NOT \"雨\""},
        {"inside quotes, escapes kept", "\"火\"\"锅 now\"", "\"火 \"\" 锅 now\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MatchExpression::forSpacedIndex(c.expression), c.spaced);
    }
}

} // namespace
} // namespace orlune::core
