#include "contacts/AddressKey.hpp"

#include "base/AsciiText.hpp"
#include "base/TextFold.hpp"
#include "contacts/PhoneNumberLibrary.hpp"

namespace orlune::core {

namespace {

// National numbers shorter than this are never matched loosely: too many
// people's numbers share their last seven digits.
constexpr size_t kShortestNationalKey = 8;

std::string digitsOf(const std::string& text) {
    std::string digits(text.size(), '\0');
    digits.resize(orlune_phone_digits(text.data(), text.size(), digits.data()));
    return digits;
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
    std::string region = ascii::upper(defaultRegion);
    if (region.find('\0') != std::string::npos || !orlune_phone_region_known(region.c_str())) {
        region = "ZZ"; // unknown: only numbers written with a country code parse
    }
    OrlunePhoneNumber number{};
    if (orlune_phone_parse(text.data(), text.size(), region.c_str(), &number) != 0) {
        key.exact = "p:" + std::string(number.e164);
        const std::string national = number.national;
        if (national.size() >= kShortestNationalKey) {
            key.national = "n:" + national;
        }
        key.regionAssumed = number.regionAssumed != 0;
        return key;
    }
    key.exact = "d:" + digits;
    return key;
}

} // namespace orlune::core
