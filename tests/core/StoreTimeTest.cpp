// The store's time values in both units, and the filter that finds the values
// of a range of local time in a column holding both.

#include "time/StoreTime.hpp"

#include "sql/SQLite.hpp"
#include "tests/support/InstantText.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace orlune::core {
namespace {

using testing::instantAt;
using testing::utcText;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(StoreTimeUnits, SecondsAndNanosecondsAreBothReadFromTheSameEpoch) {
    struct Case {
        int64_t date;
        const char* instant;
    };
    const Case cases[] = {
        {1, "2001-01-01T00:00:01Z"},
        {-1, "2000-12-31T23:59:59Z"},
        {700000000, "2023-03-08T20:26:40Z"},          // seconds, as old stores wrote
        {700000000000000000, "2023-03-08T20:26:40Z"}, // the same instant in nanoseconds
        {9999999999, "2317-11-21T17:46:39Z"},         // ten digits: still seconds
        {10000000000, "2001-01-01T00:00:10Z"},        // eleven digits: nanoseconds
        {-10000000000, "2000-12-31T23:59:50Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utcText(instantFromStoreDate(c.date)), utcText(instantAt(c.instant))) << c.date;
    }
    EXPECT_FALSE(instantFromStoreDate(0).has_value());
    // Nanoseconds within one microsecond fall on the microsecond.
    EXPECT_EQ(instantFromStoreDate(700000000000000999), instantFromStoreDate(700000000000000000));
}

bool inIntervals(const std::vector<StoreDateInterval>& intervals, int64_t value) {
    for (const StoreDateInterval& interval : intervals) {
        if (interval.first <= value && value <= interval.last) {
            return true;
        }
    }
    return false;
}

// Each range's intervals hold exactly the values whose instant the range
// holds: checked at both sides of every interval edge, at the unit
// boundaries, at 0 and at the extremes.
TEST(StoreTimeFilter, IntervalsHoldExactlyTheValuesOfTheRangeInBothUnits) {
    const Instant day = instantAt("2024-03-14T00:00Z");
    const Instant nextDay = instantAt("2024-03-15T00:00Z");
    const Instant epoch = instantAt("2001-01-01T00:00Z");
    const Instant oddStart =
        Instant(instantAt("2024-03-14T00:00Z").time_since_epoch() + std::chrono::microseconds(1));
    const std::vector<TimeRange> ranges = {
        {day, nextDay},
        {oddStart, nextDay}, // not on a whole second
        {day, std::nullopt}, // since
        {std::nullopt, day}, // before
        {epoch - std::chrono::seconds(5),
         epoch + std::chrono::seconds(20)}, // across 0 and the unit switch
        {std::nullopt, std::nullopt},
        {nextDay, day}, // empty
    };
    for (const TimeRange& range : ranges) {
        const auto intervals = storeDateIntervals(range);
        std::vector<int64_t> probes = {0,
                                       1,
                                       -1,
                                       kMin,
                                       kMax,
                                       kStoreNanosecondsFrom - 1,
                                       kStoreNanosecondsFrom,
                                       -kStoreNanosecondsFrom,
                                       -kStoreNanosecondsFrom + 1,
                                       732067200,
                                       732067200000000000};
        for (const StoreDateInterval& interval : intervals) {
            for (int64_t edge : {interval.first, interval.last}) {
                probes.push_back(edge);
                if (edge != kMin) {
                    probes.push_back(edge - 1);
                }
                if (edge != kMax) {
                    probes.push_back(edge + 1);
                }
            }
        }
        for (int64_t value : probes) {
            const auto instant = instantFromStoreDate(value);
            const bool expected = instant && range.contains(*instant);
            EXPECT_EQ(inIntervals(intervals, value), expected)
                << value << " for [" << utcText(range.start) << ", " << utcText(range.end) << ")";
        }
    }
}

TEST(StoreTimeFilter, ADayIsOneIntervalPerUnit) {
    const TimeRange day{instantAt("2024-03-14T00:00Z"), instantAt("2024-03-15T00:00Z")};
    // 2024-03-14T00:00Z is 732067200 s after 2001-01-01.
    const std::vector<StoreDateInterval> expected = {
        {732067200, 732153599},
        {732067200000000000, 732153599999999999},
    };
    EXPECT_EQ(storeDateIntervals(day), expected);
    EXPECT_EQ(storeDateFilter("timestamp", TimeRange{day.end, day.start}).sql, "0");
}

// A shadow column holding both units, as a store that crossed the change
// does: the filter finds the rows of one local day in either unit and no
// other.
TEST(StoreTimeFilter, TheSqlConditionSelectsBothUnitsOfOneDay) {
    sqlite::Connection db;
    ASSERT_EQ(db.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    db.exec("CREATE TABLE messages (guid TEXT, timestamp INTEGER);"
            "INSERT INTO messages VALUES"
            " ('old-inside', 732067200 + 3600),"
            " ('new-inside', (732067200 + 86399) * 1000000000 + 999999999),"
            " ('old-before', 732067199),"
            " ('new-after', 732153600 * 1000000000),"
            " ('unset', 0);");
    const TimeRange day{instantAt("2024-03-14T00:00Z"), instantAt("2024-03-15T00:00Z")};
    const StoreDateFilter filter = storeDateFilter("timestamp", day);
    sqlite::Statement select =
        db.prepare("SELECT guid FROM messages WHERE " + filter.sql + " ORDER BY guid");
    for (size_t i = 0; i < filter.parameters.size(); ++i) {
        select.bindInt64(static_cast<int>(i) + 1, filter.parameters[i]);
    }
    std::vector<std::string> found;
    while (select.step()) {
        found.push_back(select.columnText(0));
    }
    EXPECT_EQ(found, (std::vector<std::string>{"new-inside", "old-inside"}));
}

} // namespace
} // namespace orlune::core
