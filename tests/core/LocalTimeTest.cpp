// The local calendar: the zone and locale read from the environment, and the
// one form in which times are shown to a person.

#include "time/LocalTime.hpp"

#include "base/SystemLocale.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/InstantText.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using testing::FakeEnvironment;
using testing::instantAt;

TEST(LocalTimeFormat, TimesAreShownInTheLocalZoneWithTheYearOnlyWhenItIsNotThisYear) {
    struct Case {
        const char* now;
        const char* zone;
        const char* time;
        const char* shown;
    };
    const Case cases[] = {
        {"2025-12-10T12:00Z", "Europe/London", "2025-12-09T18:40Z", "Tue 9 Dec, 18:40"},
        {"2025-12-10T12:00Z", "Europe/London", "2024-12-09T18:40Z", "Mon 9 Dec 2024, 18:40"},
        // The local date decides the day and the year: late on New Year's
        // Eve in UTC is already next year in Tokyo, and the small hours in
        // UTC are still yesterday evening in New York, in summer time.
        {"2025-06-01T00:00Z", "Asia/Tokyo", "2025-12-31T16:30Z", "Thu 1 Jan 2026, 01:30"},
        {"2025-07-04T12:00Z", "America/New_York", "2025-07-04T03:15Z", "Thu 3 Jul, 23:15"},
        {"2025-07-04T12:00Z", "Asia/Kolkata", "2025-07-04T03:15Z", "Fri 4 Jul, 08:45"},
    };
    for (const Case& c : cases) {
        const LocalCalendar calendar(TimeContext{instantAt(c.now), c.zone, "en_GB"});
        EXPECT_EQ(calendar.formatForPerson(instantAt(c.time)), c.shown) << c.zone << " " << c.time;
    }
}

// Whose holidays: the zone's country, else the locale's.
TEST(LocalTimeRegion, TheZonesCountryElseTheLocales) {
    struct Case {
        const char* zone;
        const char* locale;
        const char* region;
    };
    const Case cases[] = {
        {"Europe/Dublin", "en_US", "IE"},
        {"America/Toronto", "en_US", "CA"},
        {"Europe/London", "de_DE", "GB"},
        {"UTC", "en_GB", "GB"},
        {"UTC", "en", ""},
    };
    for (const Case& c : cases) {
        const LocalCalendar calendar(TimeContext{instantAt("2025-12-10T12:00Z"), c.zone, c.locale});
        EXPECT_EQ(calendar.region(), c.region) << c.zone << " " << c.locale;
    }
}

TEST(LocalTimeOffset, FollowsTheZoneAndItsDaylightSavingAtThatInstant) {
    struct Case {
        const char* zone;
        const char* time;
        int minutes;
    };
    const Case cases[] = {
        {"UTC", "2025-07-01T12:00Z", 0},
        {"Europe/London", "2025-01-15T12:00Z", 0},
        {"Europe/London", "2025-07-15T12:00Z", 60},
        // Either side of the spring change (01:00 UTC, 30 March 2025).
        {"Europe/London", "2025-03-30T00:59Z", 0},
        {"Europe/London", "2025-03-30T01:00Z", 60},
        {"America/New_York", "2025-07-04T03:15Z", -240},
        {"America/New_York", "2025-12-04T03:15Z", -300},
        {"Asia/Kolkata", "2025-07-04T03:15Z", 330},
    };
    for (const Case& c : cases) {
        const LocalCalendar calendar(TimeContext{instantAt("2025-06-01T00:00Z"), c.zone, "en_GB"});
        EXPECT_EQ(calendar.utcOffset(instantAt(c.time)).count(), c.minutes)
            << c.zone << " " << c.time;
    }
}

TEST(LocalTimeSystem, TheZoneComesFromTzAndTheLocaleFromTheEnvironment) {
    struct Case {
        std::map<std::string, std::string> variables;
        const char* zone; // nullptr: the host's, whatever it is
        const char* locale;
    };
    const Case cases[] = {
        {{{"TZ", "Asia/Kolkata"}, {"LANG", "en_GB.UTF-8"}}, "Asia/Kolkata", "en_GB"},
        {{{"TZ", ":Europe/Paris"}, {"LANG", "fr_FR.UTF-8@euro"}}, "Europe/Paris", "fr_FR"},
        {{{"TZ", "/usr/share/zoneinfo/America/Chicago"},
          {"LC_ALL", "de_DE.UTF-8"},
          {"LC_TIME", "en_US.UTF-8"}},
         "America/Chicago",
         "de_DE"},
        {{{"TZ", "Pacific/Auckland"}, {"LC_ALL", "C"}, {"LC_TIME", "en_NZ.UTF-8"}},
         "Pacific/Auckland",
         "en_NZ"},
        // A TZ that names no zone leaves the host's.
        {{{"TZ", "Nowhere/Atlantis"}, {"LANG", "en_US.UTF-8"}}, nullptr, "en_US"},
    };
    for (const Case& c : cases) {
        FakeEnvironment environment;
        environment.variables = c.variables;
        const TimeContext context = TimeContext::system(environment);
        if (c.zone != nullptr) {
            EXPECT_EQ(context.zone, c.zone);
        } else {
            EXPECT_NE(context.zone, "Nowhere/Atlantis");
            EXPECT_NO_THROW(LocalCalendar{context});
        }
        EXPECT_EQ(context.locale, c.locale);
    }
}

TEST(LocalTimeSystem, PhoneNumbersAreReadInTheRegionOfTheLocale) {
    struct Case {
        std::map<std::string, std::string> variables;
        const char* region;
    };
    const Case cases[] = {
        {{{"LANG", "en_GB.UTF-8"}}, "GB"},
        {{{"LANG", "en_GB.UTF-8"}, {"LC_TELEPHONE", "fr_CA.UTF-8"}}, "CA"},
        {{{"LANG", "de.UTF-8"}}, "DE"}, // no region: the likeliest for the language
        {{{"LC_ALL", "pt_BR.UTF-8"}, {"LC_TELEPHONE", "en_US.UTF-8"}}, "BR"},
    };
    for (const Case& c : cases) {
        FakeEnvironment environment;
        environment.variables = c.variables;
        EXPECT_EQ(systemPhoneRegion(environment), c.region);
    }
}

} // namespace
} // namespace orlune::core
