#include "base/SystemLocale.hpp"

#include <memory>
#include <string_view>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace orlune::core {

namespace {

// `id` when ICU knows a zone by that name (an alias or a custom "GMT+05:30"
// included), else "".
std::string knownZone(const std::string& id) {
    if (id.empty()) {
        return {};
    }
    UErrorCode status = U_ZERO_ERROR;
    UBool isSystemId = false;
    icu::UnicodeString canonical;
    icu::TimeZone::getCanonicalID(icu::UnicodeString::fromUTF8(id), canonical, isSystemId, status);
    if (U_FAILURE(status) || canonical.isEmpty()) {
        return {};
    }
    return id;
}

bool isPosixLocale(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX" || name == "en_US_POSIX" ||
           name.rfind("C.", 0) == 0;
}

} // namespace

std::string systemTimeZone(const Environment& environment) {
    if (auto tz = environment.variable("TZ"); tz && !tz->empty()) {
        std::string id = *tz;
        if (id.front() == ':') {
            id.erase(0, 1);
        }
        static constexpr std::string_view kZoneFolder = "zoneinfo/";
        if (auto at = id.rfind(kZoneFolder); at != std::string::npos) {
            id.erase(0, at + kZoneFolder.size());
        }
        if (std::string zone = knownZone(id); !zone.empty()) {
            return zone;
        }
    }
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    host->getID(id);
    std::string name;
    id.toUTF8String(name);
    if (std::string zone = knownZone(name); !zone.empty()) {
        return zone;
    }
    return "UTC";
}

std::string systemLocale(const Environment& environment, const char* category) {
    for (const char* name : {"LC_ALL", category, "LANG"}) {
        auto value = environment.variable(name);
        if (!value) {
            continue;
        }
        std::string locale = *value;
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (!isPosixLocale(locale)) {
            return locale;
        }
    }
    const std::string fallback = icu::Locale::getDefault().getName();
    return isPosixLocale(fallback) ? "en_US" : fallback;
}

std::string localeRegion(const std::string& locale) {
    icu::Locale parsed(locale.c_str());
    if (parsed.isBogus()) {
        return {};
    }
    if (const char* country = parsed.getCountry(); country != nullptr && *country != '\0') {
        return country;
    }
    UErrorCode status = U_ZERO_ERROR;
    parsed.addLikelySubtags(status);
    if (U_FAILURE(status)) {
        return {};
    }
    return parsed.getCountry();
}

std::string systemPhoneRegion(const Environment& environment) {
    return localeRegion(systemLocale(environment, "LC_TELEPHONE"));
}

} // namespace orlune::core
