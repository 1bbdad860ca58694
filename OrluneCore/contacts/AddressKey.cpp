#include "contacts/AddressKey.hpp"

#include "base/AsciiText.hpp"
#include "base/TextFold.hpp"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>
#include <set>

namespace orlune::core {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// National numbers shorter than this are never matched loosely: too many
// people's numbers share their last seven digits.
constexpr size_t kShortestNationalKey = 8;

std::string digitsOf(const std::string& text) {
    std::string digits = text;
    PhoneNumberUtil::GetInstance()->NormalizeDigitsOnly(&digits);
    return digits;
}

bool isKnownRegion(const std::string& region) {
    static const std::set<std::string> regions = [] {
        std::set<std::string> all;
        PhoneNumberUtil::GetInstance()->GetSupportedRegions(&all);
        return all;
    }();
    return regions.count(region) != 0;
}

} // namespace

AddressKey addressKey(std::string_view address, std::string_view defaultRegion) {
    AddressKey key;
    const std::string text = ascii::trimmed(address);
    if (text.empty()) {
        return key;
    }
    if (text.find('@') != std::string::npos) {
        key.exact = "e:" + text::foldCase(text);
        return key;
    }
    const std::string digits = digitsOf(text);
    if (digits.empty() || text.find(':') != std::string::npos) {
        key.exact = "x:" + text;
        return key;
    }
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    std::string region = ascii::upper(defaultRegion);
    if (!isKnownRegion(region)) {
        region = "ZZ"; // unknown: only numbers written with a country code parse
    }
    PhoneNumber number;
    if (util.ParseAndKeepRawInput(text, region, &number) == PhoneNumberUtil::NO_PARSING_ERROR &&
        util.IsPossibleNumberWithReason(number) == PhoneNumberUtil::IS_POSSIBLE) {
        std::string e164;
        util.Format(number, PhoneNumberUtil::E164, &e164);
        key.exact = "p:" + e164;
        std::string national;
        util.GetNationalSignificantNumber(number, &national);
        if (national.size() >= kShortestNationalKey) {
            key.national = "n:" + national;
        }
        key.regionAssumed = number.country_code_source() == PhoneNumber::FROM_DEFAULT_COUNTRY;
        return key;
    }
    key.exact = "d:" + digits;
    return key;
}

} // namespace orlune::core
