#pragma once
// Instants, ranges of them, and the local calendar a person reads them in:
// the local day an instant falls on, the first instant of a local day, and
// the one way every time is shown to a person.

#include "base/Environment.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace orlune::core {

// A point in time, microseconds since 1970-01-01 UTC.
using Instant = std::chrono::sys_time<std::chrono::microseconds>;

// The instants t with start <= t < end; an absent side is open.
struct TimeRange {
    std::optional<Instant> start;
    std::optional<Instant> end;

    bool contains(Instant t) const { return (!start || *start <= t) && (!end || t < *end); }
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

// What local times are read against: the current instant, the zone and the
// locale (which decides the first day of the week). A plain value.
struct TimeContext {
    Instant now;
    // An IANA zone identifier ("Europe/London") or any other ICU knows.
    std::string zone = "UTC";
    // An ICU locale identifier ("en_GB": weeks start on Monday; "en_US": on
    // Sunday).
    std::string locale = "en_US";

    // The system's: the clock's current time, systemTimeZone() (TZ honoured)
    // and systemLocale(environment, "LC_TIME").
    static TimeContext system(const Environment& environment = Environment::process());
};

// The calendar of one TimeContext. Not thread-safe (each thread makes its
// own); cheap enough to make per request, not per row.
class LocalCalendar {
public:
    // Throws std::invalid_argument when ICU knows no zone by the context's
    // zone identifier.
    explicit LocalCalendar(const TimeContext& context);
    ~LocalCalendar();
    LocalCalendar(const LocalCalendar&) = delete;
    LocalCalendar& operator=(const LocalCalendar&) = delete;

    const TimeContext& context() const { return context_; }

    // The local date of `t`, and of the context's now.
    std::chrono::year_month_day dateOf(Instant t) const;
    std::chrono::year_month_day today() const { return dateOf(context_.now); }

    // The first instant of the local day `date` at `hour` o'clock (0-23):
    // where that wall time is skipped by a daylight-saving change, the first
    // instant after the gap; where it occurs twice, the first occurrence.
    Instant at(std::chrono::year_month_day date, int hour = 0) const;

    // The local days [first, end) as a range of instants; 23 or 25 hours for
    // one day across a daylight-saving change.
    TimeRange days(std::chrono::year_month_day first, std::chrono::year_month_day end) const;

    // How far the context's zone is ahead of UTC at `t` (negative: behind),
    // daylight saving included.
    std::chrono::minutes utcOffset(Instant t) const;

    // The first day of the week in the context's locale.
    std::chrono::weekday firstDayOfWeek() const;

    // The country whose holidays the person keeps, as an ISO 3166 code
    // ("GB", "US"): the country of the context's zone ("Europe/Dublin":
    // "IE"), else of its locale ("en_GB": "GB") for a zone of no country
    // ("UTC"); empty when neither names one.
    std::string region() const;

    // The form every time shown to a person takes, in the context's zone with
    // English names and a 24-hour clock: "Tue 9 Dec, 18:40", with the year
    // ("Mon 9 Dec 2024, 18:40") when it is not the year of the context's now.
    std::string formatForPerson(Instant t) const;

private:
    struct Icu;
    TimeContext context_;
    std::unique_ptr<Icu> icu_;
};

// The days from `date` on (negative: back), in the proleptic Gregorian
// calendar.
std::chrono::year_month_day addDays(std::chrono::year_month_day date, int days);

} // namespace orlune::core
