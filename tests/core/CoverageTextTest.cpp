// The words that say what the index covers: the app's short line and the
// note an answer adds when the question's time lies outside the messages.

#include "answer/CoverageText.hpp"

#include "tests/support/InstantText.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using testing::instantAt;

TEST(CoverageText, CountsAreGroupedByThousands) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {84210, "84,210"},
        {1000000, "1,000,000"},
        {-12345, "-12,345"},
    };
    for (const auto& [count, text] : cases) {
        EXPECT_EQ(groupedCount(count), text) << count;
    }
}

// Months are the local ones: a message just after midnight on the 1st in
// Tokyo is still the month before in UTC.
TEST(CoverageText, TheLineNamesTheCountAndTheLocalMonths) {
    struct Case {
        const char* name;
        int64_t messages;
        const char* first;
        const char* last;
        const char* zone;
        const char* line;
    };
    const char* now = "2026-12-11T10:00Z";
    const Case cases[] = {
        {"up to today", 84210, "2021-03-04T09:00Z", "2026-12-11T08:00Z", "UTC",
         "84,210 messages · Mar 2021 – today"},
        {"ending before today", 1200, "2019-11-30T09:00Z", "2024-02-01T08:00Z", "UTC",
         "1,200 messages · Nov 2019 – Feb 2024"},
        {"one month", 2, "2024-02-03T09:00Z", "2024-02-20T08:00Z", "UTC", "2 messages · Feb 2024"},
        {"one message", 1, "2024-02-03T09:00Z", "2024-02-03T09:00Z", "UTC", "1 message · Feb 2024"},
        {"the local month, not UTC's", 10, "2021-02-28T15:30Z", "2024-06-30T15:30Z", "Asia/Tokyo",
         "10 messages · Mar 2021 – Jul 2024"},
        {"today in the local zone", 10, "2021-02-28T15:30Z", "2026-12-10T23:30Z", "Asia/Tokyo",
         "10 messages · Mar 2021 – today"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LocalCalendar calendar(TimeContext{instantAt(now), c.zone, "en_US"});
        Coverage coverage;
        coverage.messages = c.messages;
        coverage.span = MessageTimeSpan{instantAt(c.first), instantAt(c.last)};
        EXPECT_EQ(coverageLine(coverage, calendar), c.line);
    }
    const LocalCalendar calendar(TimeContext{instantAt(now), "UTC", "en_US"});
    EXPECT_EQ(coverageLine(Coverage{}, calendar), "No messages copied yet");
    Coverage undated;
    undated.messages = 3;
    EXPECT_EQ(coverageLine(undated, calendar), "3 messages");
}

TEST(CoverageText, ANoteOnlyWhenTheAskedTimeLiesWhollyOutsideTheMessages) {
    const MessageTimeSpan span{instantAt("2021-03-04T09:00Z"), instantAt("2024-02-01T08:00Z")};
    struct Case {
        const char* name;
        std::optional<const char*> start;
        std::optional<const char*> end;
        std::optional<std::string> note;
    };
    const Case cases[] = {
        {"a year before", "2019-01-01T00:00Z", "2020-01-01T00:00Z",
         "Your messages here start in March 2021."},
        {"ending at the first message", "2021-01-01T00:00Z", "2021-03-04T09:00Z",
         "Your messages here start in March 2021."},
        {"everything before a date", std::nullopt, "2020-06-01T00:00Z",
         "Your messages here start in March 2021."},
        {"after the last", "2024-03-01T00:00Z", "2024-04-01T00:00Z",
         "Your messages here end in February 2024."},
        {"everything since a date", "2025-01-01T00:00Z", std::nullopt,
         "Your messages here end in February 2024."},
        {"overlapping the first", "2021-01-01T00:00Z", "2021-06-01T00:00Z", std::nullopt},
        {"overlapping the last", "2024-01-01T00:00Z", "2025-01-01T00:00Z", std::nullopt},
        {"inside", "2022-01-01T00:00Z", "2022-02-01T00:00Z", std::nullopt},
        {"starting at the last", "2024-02-01T08:00Z", "2024-02-02T00:00Z", std::nullopt},
        {"no bounds", std::nullopt, std::nullopt, std::nullopt},
    };
    const LocalCalendar calendar(TimeContext{instantAt("2026-12-11T10:00Z"), "UTC", "en_US"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimeRange asked;
        if (c.start) {
            asked.start = instantAt(*c.start);
        }
        if (c.end) {
            asked.end = instantAt(*c.end);
        }
        EXPECT_EQ(outsideSpanNote(asked, span, calendar), c.note);
    }
}

} // namespace
} // namespace orlune::core
