#include "answer/CoverageText.hpp"

#include <array>

namespace orlune::core {

namespace {

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

std::string monthName(std::chrono::year_month_day date) {
    return kMonthNames[static_cast<unsigned>(date.month()) - 1];
}

// "Mar 2021".
std::string shortMonth(std::chrono::year_month_day date) {
    return monthName(date).substr(0, 3) + " " + std::to_string(static_cast<int>(date.year()));
}

// "March 2021".
std::string longMonth(std::chrono::year_month_day date) {
    return monthName(date) + " " + std::to_string(static_cast<int>(date.year()));
}

} // namespace

std::string groupedCount(int64_t count) {
    const std::string digits = std::to_string(count < 0 ? -count : count);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return count < 0 ? "-" + grouped : grouped;
}

std::string coverageLine(const Coverage& coverage, const LocalCalendar& calendar) {
    if (coverage.messages == 0) {
        return "No messages copied yet";
    }
    std::string line =
        groupedCount(coverage.messages) + (coverage.messages == 1 ? " message" : " messages");
    if (!coverage.span) {
        return line;
    }
    const auto first = calendar.dateOf(coverage.span->first);
    const auto last = calendar.dateOf(coverage.span->last);
    line += " · " + shortMonth(first);
    if (last == calendar.today()) {
        return line + " – today";
    }
    if (first.year() == last.year() && first.month() == last.month()) {
        return line;
    }
    return line + " – " + shortMonth(last);
}

std::optional<std::string> outsideSpanNote(const TimeRange& asked, const MessageTimeSpan& span,
                                           const LocalCalendar& calendar) {
    if (asked.end && *asked.end <= span.first) {
        return "Your messages here start in " + longMonth(calendar.dateOf(span.first)) + ".";
    }
    if (asked.start && *asked.start > span.last) {
        return "Your messages here end in " + longMonth(calendar.dateOf(span.last)) + ".";
    }
    return std::nullopt;
}

} // namespace orlune::core
