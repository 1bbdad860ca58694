#include "time/LocalTime.hpp"

#include "base/SystemLocale.hpp"

#include <cmath>
#include <stdexcept>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace orlune::core {

namespace {

using namespace std::chrono;

// Times shown to a person, in English: "Tue 9 Dec, 18:40".
constexpr const char* kPersonPattern = "EEE d MMM, HH:mm";
constexpr const char* kPersonPatternWithYear = "EEE d MMM y, HH:mm";
constexpr const char* kPersonLocale = "en";

UDate toUDate(Instant t) {
    return static_cast<double>(t.time_since_epoch().count()) / 1000.0;
}

Instant fromUDate(UDate ms) {
    return Instant(microseconds(std::llround(ms * 1000.0)));
}

void check(UErrorCode status, const char* what) {
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string(what) + ": " + u_errorName(status));
    }
}

} // namespace

struct LocalCalendar::Icu {
    std::unique_ptr<icu::TimeZone> zone;
    std::unique_ptr<icu::GregorianCalendar> calendar;
    std::unique_ptr<icu::SimpleDateFormat> format;
    std::unique_ptr<icu::SimpleDateFormat> formatWithYear;
};

TimeContext TimeContext::system(const Environment& environment) {
    TimeContext context;
    context.now = floor<microseconds>(system_clock::now());
    context.zone = systemTimeZone(environment);
    context.locale = systemLocale(environment, "LC_TIME");
    return context;
}

LocalCalendar::LocalCalendar(const TimeContext& context)
    : context_(context), icu_(std::make_unique<Icu>()) {
    icu_->zone.reset(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(context.zone)));
    icu::UnicodeString id;
    icu_->zone->getID(id);
    if (id == UNICODE_STRING_SIMPLE("Etc/Unknown") && context.zone != "Etc/Unknown") {
        throw std::invalid_argument("unknown time zone: " + context.zone);
    }
    UErrorCode status = U_ZERO_ERROR;
    icu_->calendar = std::make_unique<icu::GregorianCalendar>(
        *icu_->zone, icu::Locale(context.locale.c_str()), status);
    check(status, "calendar");
    // Proleptic Gregorian, so that dates agree with std::chrono's calendar.
    icu_->calendar->setGregorianChange(U_DATE_MIN, status);
    icu_->calendar->setLenient(true);
    icu_->calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    icu_->calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    check(status, "calendar");
}

LocalCalendar::~LocalCalendar() = default;

std::string LocalCalendar::region() const {
    icu::UnicodeString id;
    icu_->zone->getID(id);
    char country[8] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        icu::TimeZone::getRegion(id, country, static_cast<int32_t>(sizeof country), status);
    // "001" is the world: a zone of no country.
    if (U_SUCCESS(status) && length == 2) {
        return std::string(country, 2);
    }
    const std::string fromLocale = icu::Locale(context_.locale.c_str()).getCountry();
    return fromLocale.size() == 2 ? fromLocale : std::string();
}

year_month_day LocalCalendar::dateOf(Instant t) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::Calendar& calendar = *icu_->calendar;
    calendar.setTime(toUDate(t), status);
    const int y = calendar.get(UCAL_EXTENDED_YEAR, status);
    const int m = calendar.get(UCAL_MONTH, status) + 1;
    const int d = calendar.get(UCAL_DATE, status);
    check(status, "local date");
    return year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)};
}

Instant LocalCalendar::at(year_month_day date, int hour) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::Calendar& calendar = *icu_->calendar;
    calendar.clear();
    calendar.set(UCAL_EXTENDED_YEAR, static_cast<int>(date.year()));
    calendar.set(UCAL_MONTH, static_cast<int>(static_cast<unsigned>(date.month())) - 1);
    calendar.set(UCAL_DATE, static_cast<int>(static_cast<unsigned>(date.day())));
    calendar.set(UCAL_HOUR_OF_DAY, hour);
    const UDate ms = calendar.getTime(status);
    check(status, "local time");
    return fromUDate(ms);
}

TimeRange LocalCalendar::days(year_month_day first, year_month_day end) const {
    return TimeRange{at(first), at(end)};
}

minutes LocalCalendar::utcOffset(Instant t) const {
    UErrorCode status = U_ZERO_ERROR;
    int32_t rawOffset = 0;
    int32_t dstOffset = 0;
    icu_->zone->getOffset(toUDate(t), false, rawOffset, dstOffset, status);
    check(status, "zone offset");
    return duration_cast<minutes>(milliseconds(int64_t{rawOffset} + dstOffset));
}

weekday LocalCalendar::firstDayOfWeek() const {
    UErrorCode status = U_ZERO_ERROR;
    const UCalendarDaysOfWeek first = icu_->calendar->getFirstDayOfWeek(status);
    check(status, "first day of week");
    return weekday{static_cast<unsigned>(first) - 1}; // ICU counts from Sunday = 1
}

std::string LocalCalendar::formatForPerson(Instant t) const {
    const bool thisYear = dateOf(t).year() == today().year();
    auto& format = thisYear ? icu_->format : icu_->formatWithYear;
    if (!format) {
        UErrorCode status = U_ZERO_ERROR;
        format = std::make_unique<icu::SimpleDateFormat>(
            icu::UnicodeString(thisYear ? kPersonPattern : kPersonPatternWithYear),
            icu::Locale(kPersonLocale), status);
        check(status, "time format");
        format->adoptCalendar(icu_->calendar->clone());
    }
    icu::UnicodeString shown;
    format->format(toUDate(t), shown);
    std::string text;
    shown.toUTF8String(text);
    return text;
}

year_month_day addDays(year_month_day date, int count) {
    return year_month_day{sys_days{date} + std::chrono::days{count}};
}

} // namespace orlune::core
