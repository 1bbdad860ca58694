#include "store/MessageSummaryInfo.hpp"

#include "tests/support/HexBytes.hpp"
#include "tools/samplestore/BinaryPropertyListWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using samplestore::BinaryPropertyListWriter;
using samplestore::TypedStreamWriter;
using Array = PropertyListValue::Array;
using Dictionary = PropertyListValue::Dictionary;

const std::string& kEditedTwice = testing::summaryEditedTwice();

TEST(MessageSummaryInfo, ReadsAnEditHistory) {
    auto info = MessageSummaryInfo::parse(kEditedTwice);
    ASSERT_TRUE(info);
    const std::vector<EditedPart> expected = {
        {0, {{690513474.0, "Hi there"}, {690513480.0, "Hi where"}}},
    };
    EXPECT_EQ(info->editedParts(), expected);
    EXPECT_TRUE(info->unsentParts().empty());
    EXPECT_EQ(info->currentText(0), "Hi where");
    EXPECT_EQ(info->currentText(1), std::nullopt);
    EXPECT_EQ(info->lastEditedSecondsSince2001(), 690513480.0);
}

PropertyListValue edit(PropertyListValue when, std::optional<std::string> text) {
    Dictionary entry{{"d", std::move(when)}};
    if (text) {
        entry.emplace_back("t", PropertyListData{TypedStreamWriter::attributedBody(*text)});
    }
    return entry;
}

TEST(MessageSummaryInfo, EditsAndUnsendsOfEachPart) {
    struct Case {
        const char* name;
        PropertyListValue summary;
        std::vector<EditedPart> edited;
        std::vector<int64_t> unsent;
        std::optional<std::string> currentText0;
        std::optional<double> lastEdited;
    };
    const Case cases[] = {
        {"unsent, nothing edited",
         Dictionary{{"rp", Array{0}}, {"otr", Dictionary{{"0", Dictionary{{"lo", 0}, {"le", 5}}}}}},
         {},
         {0},
         std::nullopt,
         std::nullopt},
        {"parts come back in order",
         Dictionary{{"ec", Dictionary{{"1", Array{edit(20, "b1"), edit(30, "b2")}},
                                      {"0", Array{edit(10, "a1"), edit(15, "a2")}}}}},
         {{0, {{10.0, "a1"}, {15.0, "a2"}}}, {1, {{20.0, "b1"}, {30.0, "b2"}}}},
         {},
         "a2",
         30.0},
        {"edited and another part unsent",
         Dictionary{{"ec", Dictionary{{"0", Array{edit(1, "was"), edit(2, "is")}}}},
                    {"rp", Array{1}}},
         {{0, {{1.0, "was"}, {2.0, "is"}}}},
         {1},
         "is",
         2.0},
        {"time as a real number or a date",
         Dictionary{
             {"ec", Dictionary{{"0", Array{edit(1.5, "a"), edit(PropertyListDate{2.5}, "b")}}}}},
         {{0, {{1.5, "a"}, {2.5, "b"}}}},
         {},
         "b",
         2.5},
        {"emoji alone are text",
         Dictionary{{"ec", Dictionary{{"0", Array{edit(1, "ok"), edit(2, "👍")}}}}},
         {{0, {{1.0, "ok"}, {2.0, "👍"}}}},
         {},
         "👍",
         2.0},
        {"last entry without its text: the body holds it",
         Dictionary{{"ec", Dictionary{{"0", Array{edit(1, "first"), edit(2, std::nullopt)}}}}},
         {{0, {{1.0, "first"}, {2.0, std::nullopt}}}},
         {},
         std::nullopt,
         2.0},
        {"unreadable body and missing time",
         Dictionary{{"ec", Dictionary{{"0", Array{Dictionary{{"t", PropertyListData{std::string(
                                                                       "\x01\x02")}}}}}}}},
         {{0, {{std::nullopt, std::nullopt}}}},
         {},
         std::nullopt,
         std::nullopt},
        {"what cannot be read is passed over",
         Dictionary{{"ec", Dictionary{{"x", Array{edit(1, "bad key")}},
                                      {"-1", Array{edit(1, "negative")}},
                                      {"2", "not an array"},
                                      {"3", Array{}},
                                      {"0", Array{"not a dictionary", edit(5, "kept")}}}},
                    {"rp", Array{"1", -1, 2, 2, 0, 1.0}}},
         {{0, {{5.0, "kept"}}}},
         {0, 2},
         "kept",
         5.0},
        {"ec and rp of the wrong types",
         Dictionary{{"ec", Array{}}, {"rp", Dictionary{}}},
         {},
         {},
         std::nullopt,
         std::nullopt},
        {"empty dictionary", Dictionary{}, {}, {}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto info = MessageSummaryInfo::parse(BinaryPropertyListWriter::write(c.summary));
        ASSERT_TRUE(info) << c.name;
        EXPECT_EQ(info->editedParts(), c.edited) << c.name;
        EXPECT_EQ(info->unsentParts(), c.unsent) << c.name;
        EXPECT_EQ(info->currentText(0), c.currentText0) << c.name;
        EXPECT_EQ(info->lastEditedSecondsSince2001(), c.lastEdited) << c.name;
    }
}

TEST(MessageSummaryInfo, NotASummary) {
    const std::string notSummaries[] = {
        "",
        "not a property list",
        BinaryPropertyListWriter::write(Array{Dictionary{{"rp", Array{0}}}}),
        BinaryPropertyListWriter::write("ec"),
        TypedStreamWriter::attributedBody("a message body, not a summary"),
    };
    for (const auto& blob : notSummaries) {
        EXPECT_FALSE(MessageSummaryInfo::parse(blob));
    }
}

} // namespace
} // namespace orlune::core
