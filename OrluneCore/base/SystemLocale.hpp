#pragma once
// The person's time zone and locale, read from the process environment
// through the Environment seam so that tests can set them.

#include "base/Environment.hpp"

#include <string>

namespace orlune::core {

// The IANA identifier of the local time zone ("Europe/London"). TZ decides
// when it names a zone ICU knows: "Europe/London", ":Europe/London", or a
// path ending in "zoneinfo/Europe/London"; otherwise the host's zone as ICU
// detects it, and "UTC" when even that is unknown.
std::string systemTimeZone(const Environment& environment);

// The locale for one category of the environment, as an ICU locale
// identifier ("en_GB"): the first of LC_ALL, `category` (e.g. "LC_TIME") and
// LANG that is set to something other than "C" or "POSIX", without its
// encoding or modifier ("en_GB.UTF-8@euro" gives "en_GB"); otherwise ICU's
// default locale, and "en_US" when that is the POSIX locale too.
std::string systemLocale(const Environment& environment, const char* category);

// The region (ISO 3166 two-letter code, upper case) of an ICU locale
// identifier: its own region, else the likeliest one for its language ("en"
// gives "US"); "" when none can be told.
std::string localeRegion(const std::string& locale);

// The region that phone numbers written without a country code are read in:
// localeRegion(systemLocale(environment, "LC_TELEPHONE")); "" when none.
std::string systemPhoneRegion(const Environment& environment);

} // namespace orlune::core
