// Search in scripts written without spaces: a word is found by its parts,
// wherever it stands in a text, alone or mixed with English.

#include "records/MessageScope.hpp"
#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;

ShadowMessage message(std::string guid, std::string text, std::string sender = "+8613800000001") {
    const bool fromMe = sender == "me";
    return ShadowMessage(std::move(guid), "chat-1", std::nullopt, std::move(sender),
                         std::move(text), 100, fromMe, false, false, {}, 1);
}

std::vector<std::string> sortedGuids(const std::vector<SearchResult>& results) {
    std::vector<std::string> out;
    for (const auto& r : results) {
        out.push_back(r.guid);
    }
    std::sort(out.begin(), out.end());
    return out;
}

class SpacelessSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<ShadowDB>(dir.file("shadow.db"));
        db->createSchemaIfNeeded();
        db->insertBatch({
            message("zh-hotpot", "明天我们去吃火锅吧"),
            message("zh-spicy", "那家火锅店太辣了", "me"),
            message("zh-mixed", "明天 dinner at 7? 在老地方"),
            message("zh-rain", "今天下雨了，记得带伞"),
            message("zh-phone", "我买了新的iPhone手机"),
            message("zh-beijing", "你到北京了吗？"),
            message("ja-tokyo", "東京の天気はどうですか？", "yuki@example.jp"),
            message("ja-zoom", "今日はZoomで会議です", "yuki@example.jp"),
            message("ja-ramen", "ラーメン食べに行きませんか", "yuki@example.jp"),
            message("ja-rain", "雨が降ってきた", "yuki@example.jp"),
            message("ko-meeting", "내일 회의는 몇 시예요?", "+821000000003"),
            message("ko-room", "회의실 예약했어요", "+821000000003"),
            message("th-meeting", "พรุ่งนี้ประชุมกี่โมง", "+66800000004"),
            message("en-dinner", "dinner at the usual place?", "+15550001"),
        });
    }
    TempDir dir;
    std::unique_ptr<ShadowDB> db;
};

TEST_F(SpacelessSearchTest, WordsAreFoundByTheirParts) {
    using List = std::vector<std::string>;
    const struct {
        const char* query;
        List found;
    } cases[] = {
        // Han, inside a sentence and at its start.
        {"火锅", {"zh-hotpot", "zh-spicy"}},
        {"明天", {"zh-hotpot", "zh-mixed"}},
        {"\"吃火锅\"", {"zh-hotpot"}},
        // One and two characters.
        {"雨", {"ja-rain", "zh-rain"}},
        {"北京", {"zh-beijing"}},
        // Kana and Han together; katakana with the prolonged sound mark.
        {"東京", {"ja-tokyo"}},
        {"ラーメン", {"ja-ramen"}},
        {"会議", {"ja-zoom"}},
        // Hangul: without its particle the word finds both; with it, one.
        {"회의", {"ko-meeting", "ko-room"}},
        {"회의는", {"ko-meeting"}},
        // Thai.
        {"ประชุม", {"th-meeting"}},
        // Mixed scripts: either part, both parts, an English word glued on.
        {"dinner", {"en-dinner", "zh-mixed"}},
        {"明天 dinner", {"zh-mixed"}},
        {"Zoom", {"ja-zoom"}},
        {"iphone", {"zh-phone"}},
        // Operators, with a run that holds the word taken out.
        {"火锅 NOT 辣", {"zh-hotpot"}},
        {"北京 OR 東京", {"ja-tokyo", "zh-beijing"}},
        {"dinner NOT 老地方", {"en-dinner"}},
        // Characters side by side only: 天 and 锅 are in one text, not adjacent.
        {"天锅", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(sortedGuids(db->search(c.query, 20)), c.found);
    }
}

TEST_F(SpacelessSearchTest, ScopedSearchesReadTheSameIndex) {
    ShadowDBReader reader(dir.file("shadow.db"));
    MessageScope fromYuki;
    fromYuki.senders = std::vector<std::string>{"yuki@example.jp"};
    EXPECT_EQ(sortedGuids(reader.search("雨", fromYuki, 10, QueryBounds{}).results),
              std::vector<std::string>{"ja-rain"});
    MessageScope mine;
    mine.senders = std::vector<std::string>{};
    mine.fromMe = true;
    EXPECT_EQ(sortedGuids(reader.search("火锅", mine, 10, QueryBounds{}).results),
              std::vector<std::string>{"zh-spicy"});
}

TEST_F(SpacelessSearchTest, ReplacedAndDeletedTextsLeaveTheIndex) {
    db->insertBatch({message("zh-hotpot", "明天我们去吃烤鸭吧")});
    EXPECT_EQ(sortedGuids(db->search("火锅", 10)), std::vector<std::string>{"zh-spicy"});
    EXPECT_EQ(sortedGuids(db->search("烤鸭", 10)), std::vector<std::string>{"zh-hotpot"});
    ShadowDBReader reader(dir.file("shadow.db"));
    EXPECT_EQ(reader.executeReadOnly("SELECT COUNT(*) AS n FROM spaced_texts", 1)
                  .rows.at(0)
                  .at("n")
                  .asInteger(),
              13); // every message but the English one
}

} // namespace
} // namespace orlune::core
