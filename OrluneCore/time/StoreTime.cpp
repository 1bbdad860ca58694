#include "time/StoreTime.hpp"

#include <algorithm>
#include <limits>

namespace orlune::core {

namespace {

// Wide enough for any product of a 64-bit value with 10^9, so that bounds are
// computed exactly and only then clamped to what the column can hold.
__extension__ typedef __int128 Wide;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMicrosPerSecond = 1'000'000;
constexpr int64_t kNanosPerMicro = 1'000;
// The condition that no row meets.
constexpr std::string_view kNothing = "0";
constexpr Wide kEpochMicros = Wide{kStoreEpochUnixSeconds} * kMicrosPerSecond;

int64_t clampToInt64(Wide value) {
    return value < kMin ? kMin : value > kMax ? kMax : static_cast<int64_t>(value);
}

Wide floorDiv(Wide a, Wide b) {
    Wide q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

Wide ceilDiv(Wide a, Wide b) {
    return -floorDiv(-a, b);
}

// The values of one unit that fall in the range, as [low, high] with open
// sides at the extremes of a wide integer.
struct WideInterval {
    Wide low;
    Wide high;
};

constexpr Wide kWideMin = Wide{kMin} * 4;
constexpr Wide kWideMax = Wide{kMax} * 4;

// v seconds name epoch + v s: v >= ceil((start - epoch) / 1 s) and
// v < ceil((end - epoch) / 1 s).
WideInterval secondsIn(const TimeRange& range) {
    WideInterval interval{kWideMin, kWideMax};
    if (range.start) {
        interval.low =
            ceilDiv(Wide{range.start->time_since_epoch().count()} - kEpochMicros, kMicrosPerSecond);
    }
    if (range.end) {
        interval.high =
            ceilDiv(Wide{range.end->time_since_epoch().count()} - kEpochMicros, kMicrosPerSecond) -
            1;
    }
    return interval;
}

// v nanoseconds name epoch + floor(v / 1000) us: v >= (start - epoch) * 1000
// and v < (end - epoch) * 1000.
WideInterval nanosecondsIn(const TimeRange& range) {
    WideInterval interval{kWideMin, kWideMax};
    if (range.start) {
        interval.low =
            (Wide{range.start->time_since_epoch().count()} - kEpochMicros) * kNanosPerMicro;
    }
    if (range.end) {
        interval.high =
            (Wide{range.end->time_since_epoch().count()} - kEpochMicros) * kNanosPerMicro - 1;
    }
    return interval;
}

void addIntersection(std::vector<StoreDateInterval>& out, WideInterval a, Wide low, Wide high) {
    const Wide first = std::max(a.low, low);
    const Wide last = std::min(a.high, high);
    if (first <= last) {
        out.push_back({clampToInt64(first), clampToInt64(last)});
    }
}

} // namespace

std::optional<Instant> instantFromStoreDate(int64_t date) {
    if (date == 0) {
        return std::nullopt;
    }
    const bool nanoseconds = date >= kStoreNanosecondsFrom || date <= -kStoreNanosecondsFrom;
    const Wide micros =
        nanoseconds ? floorDiv(date, kNanosPerMicro) : Wide{date} * kMicrosPerSecond;
    return Instant(std::chrono::microseconds(clampToInt64(micros + kEpochMicros)));
}

std::vector<StoreDateInterval> storeDateIntervals(const TimeRange& range) {
    const WideInterval seconds = secondsIn(range);
    const WideInterval nanoseconds = nanosecondsIn(range);
    constexpr Wide kLimit = kStoreNanosecondsFrom;
    // Each unit over its own values, in increasing order: 0 belongs to none.
    std::vector<StoreDateInterval> intervals;
    addIntersection(intervals, nanoseconds, kMin, -kLimit);
    addIntersection(intervals, seconds, -kLimit + 1, -1);
    addIntersection(intervals, seconds, 1, kLimit - 1);
    addIntersection(intervals, nanoseconds, kLimit, kMax);
    // Neighbours that touch become one.
    std::vector<StoreDateInterval> merged;
    for (const StoreDateInterval& interval : intervals) {
        if (!merged.empty() && merged.back().last != kMax &&
            merged.back().last + 1 == interval.first) {
            merged.back().last = interval.last;
        } else {
            merged.push_back(interval);
        }
    }
    return merged;
}

StoreDateFilter storeDateFilter(std::string_view column, const TimeRange& range) {
    const std::vector<StoreDateInterval> intervals = storeDateIntervals(range);
    if (intervals.empty()) {
        return StoreDateFilter{std::string(kNothing), {}};
    }
    StoreDateFilter filter;
    for (const StoreDateInterval& interval : intervals) {
        if (!filter.sql.empty()) {
            filter.sql += " OR ";
        }
        filter.sql += "(";
        filter.sql += column;
        filter.sql += " BETWEEN ? AND ?)";
        filter.parameters.push_back(interval.first);
        filter.parameters.push_back(interval.last);
    }
    return filter;
}

} // namespace orlune::core
