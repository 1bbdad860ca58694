#pragma once
// A point in time as stored in the sessions file.

#include <chrono>
#include <compare>

namespace orlune::rlm {

// Seconds, with fraction, since 2001-01-01 00:00:00 UTC (the reference date
// of the sessions file); a date in 2025 is about 7.6e8. Kept in that form so
// that what is read is written back bit for bit.
struct ChatDate {
    double secondsSinceReferenceDate = 0;

    // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
    static constexpr double kReferenceUnixSeconds = 978307200.0;

    static ChatDate now();
    static ChatDate fromSystemTime(std::chrono::system_clock::time_point time);
    std::chrono::system_clock::time_point toSystemTime() const;

    auto operator<=>(const ChatDate&) const = default;
};

} // namespace orlune::rlm
