// Fusing the ranked lists of several searches into the messages to show.

#include "answer/AnswerRanking.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using ::testing::ElementsAre;

// Store dates in nanoseconds since 2001; `day` whole days after 1 Jan 2024.
int64_t nanosecondsOnDay(int day) {
    return (725'846'400LL + day * 86'400LL) * 1'000'000'000LL;
}
int64_t secondsOnDay(int day) {
    return 725'846'400LL + day * 86'400LL;
}

SearchResult message(std::string guid, std::string text, int64_t timestamp) {
    SearchResult result;
    result.guid = std::move(guid);
    result.text = std::move(text);
    result.timestamp = timestamp;
    return result;
}

std::vector<std::string> guidsOf(const std::vector<RankedMessage>& ranked) {
    std::vector<std::string> guids;
    for (const RankedMessage& r : ranked) {
        guids.push_back(r.message.guid);
    }
    return guids;
}

TEST(AnswerRanking, AMessageFoundByMoreSearchesRanksHigher) {
    const auto a = message("A", "gate code is 4471", nanosecondsOnDay(1));
    const auto b = message("B", "the gate is open", nanosecondsOnDay(2));
    const auto c = message("C", "code review at 3", nanosecondsOnDay(3));
    const auto ranked = fuseRankings({{{b, a}, 1.0}, {{c, a}, 1.0}}, 10);
    EXPECT_THAT(guidsOf(ranked), ElementsAre("A", "C", "B"));
    EXPECT_DOUBLE_EQ(ranked[0].score, 2.0 / 62);
}

TEST(AnswerRanking, AWeightScalesWhatAListsRanksAreWorth) {
    const auto a = message("A", "one", nanosecondsOnDay(1));
    const auto b = message("B", "two", nanosecondsOnDay(1));
    EXPECT_THAT(guidsOf(fuseRankings({{{a}, 1.0}, {{b}, 2.0}}, 10)), ElementsAre("B", "A"));
}

TEST(AnswerRanking, TheSameTextIsShownOnceByItsNewestCopyWithItsBestScore) {
    const auto older = message("old", "Grandma says hi!", nanosecondsOnDay(1));
    const auto newer = message("new", "grandma says   HI", nanosecondsOnDay(9));
    const auto other = message("other", "grandma's birthday is Sunday", nanosecondsOnDay(5));
    const auto ranked = fuseRankings({{{older, other, newer}, 1.0}}, 10);
    ASSERT_THAT(guidsOf(ranked), ElementsAre("new", "other"));
    EXPECT_DOUBLE_EQ(ranked[0].score, 1.0 / 61);
    EXPECT_EQ(ranked[0].sameText, 1u);
    EXPECT_EQ(ranked[1].sameText, 0u);
}

TEST(AnswerRanking, TiesGoToTheNewestWhateverTheUnitOfItsDate) {
    // Day 9 in seconds is newer than day 3 in nanoseconds.
    const auto seconds = message("seconds", "alpha", secondsOnDay(9));
    const auto nanoseconds = message("nanoseconds", "beta", nanosecondsOnDay(3));
    const auto undated = message("undated", "gamma", 0);
    EXPECT_THAT(
        guidsOf(fuseRankings({{{nanoseconds}, 1.0}, {{undated}, 1.0}, {{seconds}, 1.0}}, 10)),
        ElementsAre("seconds", "nanoseconds", "undated"));
}

TEST(AnswerRanking, TheLimitKeepsTheBestAndStillCountsTheirCopies) {
    std::vector<SearchResult> list;
    for (int i = 0; i < 5; ++i) {
        // Built by appending: g++ 12 gives a false -Wrestrict warning for
        // "literal" + a string (std::string's insert, inlined).
        std::string guid = "m";
        guid += std::to_string(i);
        std::string text = "text ";
        text.push_back(static_cast<char>('a' + i));
        list.push_back(message(guid, text, nanosecondsOnDay(i)));
    }
    list.push_back(message("copy", "text a", nanosecondsOnDay(0)));
    const auto ranked = fuseRankings({{list, 1.0}}, 2);
    ASSERT_THAT(guidsOf(ranked), ElementsAre("m0", "m1"));
    EXPECT_EQ(ranked[0].sameText, 1u);
}

TEST(AnswerRanking, MessagesWithoutWordsNeverCollapse) {
    const auto photo1 = message("p1", "", nanosecondsOnDay(1));
    const auto photo2 = message("p2", "\xEF\xBF\xBC", nanosecondsOnDay(2));
    EXPECT_THAT(guidsOf(fuseRankings({{{photo1, photo2}, 1.0}}, 10)), ElementsAre("p1", "p2"));
}

} // namespace
} // namespace orlune::core
