#include "contacts/PhoneNumberLibrary.hpp"

#include <algorithm>
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>
#include <set>
#include <string>

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// Copies `text` with its terminating NUL into `out`; false when it does not fit.
template <size_t N> bool copyTo(const std::string& text, char (&out)[N]) {
    if (text.size() >= N) {
        return false;
    }
    text.copy(out, text.size());
    out[text.size()] = '\0';
    return true;
}

} // namespace

extern "C" size_t orlune_phone_digits(const char* text, size_t size, char* out) {
    std::string digits(text, size);
    PhoneNumberUtil::GetInstance()->NormalizeDigitsOnly(&digits);
    digits.copy(out, std::min(digits.size(), size));
    return std::min(digits.size(), size);
}

extern "C" int orlune_phone_region_known(const char* region) {
    static const std::set<std::string> regions = [] {
        std::set<std::string> all;
        PhoneNumberUtil::GetInstance()->GetSupportedRegions(&all);
        return all;
    }();
    return regions.count(region) != 0 ? 1 : 0;
}

extern "C" int orlune_phone_parse(const char* text, size_t size, const char* region,
                                  OrlunePhoneNumber* number) {
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    PhoneNumber parsed;
    if (util.ParseAndKeepRawInput(std::string(text, size), region, &parsed) !=
            PhoneNumberUtil::NO_PARSING_ERROR ||
        util.IsPossibleNumberWithReason(parsed) != PhoneNumberUtil::IS_POSSIBLE) {
        return 0;
    }
    std::string e164;
    util.Format(parsed, PhoneNumberUtil::E164, &e164);
    std::string national;
    util.GetNationalSignificantNumber(parsed, &national);
    if (!copyTo(e164, number->e164) || !copyTo(national, number->national)) {
        return 0;
    }
    number->regionAssumed = parsed.country_code_source() == PhoneNumber::FROM_DEFAULT_COUNTRY;
    return 1;
}
