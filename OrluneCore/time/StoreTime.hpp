#pragma once
// The messaging store's own time values (message.date, copied unchanged into
// the shadow database's `timestamp` column) and instants.
//
// The store counts from 2001-01-01 00:00:00 UTC: in seconds in stores written
// before macOS 10.13, in nanoseconds since; one store can hold both. A value
// of 10,000,000,000 or more in magnitude (more than ten digits) is in
// nanoseconds, anything smaller in seconds; 0 means unset. In nanoseconds,
// ten digits would be the first ten seconds of 2001; in seconds, eleven
// digits would be past the year 2317.

#include "time/LocalTime.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// 2001-01-01 00:00:00 UTC in seconds since 1970-01-01 UTC.
inline constexpr int64_t kStoreEpochUnixSeconds = 978307200;
// Store values at least this large in magnitude are nanoseconds.
inline constexpr int64_t kStoreNanosecondsFrom = 10'000'000'000;

// The instant a store value names (nanoseconds truncated to microseconds,
// toward the past), or absent for 0.
std::optional<Instant> instantFromStoreDate(int64_t date);

// Store values from `first` to `last`, both included.
struct StoreDateInterval {
    int64_t first = 0;
    int64_t last = 0;
    friend bool operator==(const StoreDateInterval&, const StoreDateInterval&) = default;
};

// Exactly the store values v != 0 whose instantFromStoreDate(v) lies in
// `range`, in either unit: disjoint intervals in increasing order (usually
// one in seconds and one in nanoseconds; none when the range is empty).
std::vector<StoreDateInterval> storeDateIntervals(const TimeRange& range);

// An SQL condition on a column of store values, for the shadow database's
// `timestamp`, with its parameters in order: "(col BETWEEN ? AND ?) OR ...",
// or "0" when no value can match. `column` is written into the SQL as it is:
// pass a column name the caller controls, never text from a person.
struct StoreDateFilter {
    std::string sql;
    std::vector<int64_t> parameters;
};
StoreDateFilter storeDateFilter(std::string_view column, const TimeRange& range);

} // namespace orlune::core
