#pragma once
// The keys under which a sender's address (a handle: phone number, e-mail
// address, short code) and the addresses on contact cards are compared.
//
// - An e-mail address (anything with an "@") is its case-folded text:
//   "e:alex.k@example.com".
// - A phone number that libphonenumber can place with a country code (written
//   with one, or taken from the default region) and whose length is possible
//   there is its E.164 form: "p:+15550100001" for "(555) 010-0001",
//   "555.010.0001" and "+1 555 010 0001" alike.
// - Anything else with digits (short codes such as "262966", numbers too
//   short or too long for their country, a number without a country and no
//   region to assume) is its digits, matched only exactly: "d:262966".
// - Other addresses ("urn:biz:...") are themselves: "x:urn:biz:...".
//
// Besides the exact key, a phone number of 8 digits or more (without its
// country code) has a national key "n:<national number>", for the one loose
// match allowed: a card number written without a country code, whose country
// the default region may have guessed wrong.

#include <string>
#include <string_view>

namespace orlune::core {

struct AddressKey {
    std::string exact;    // empty when the address is empty
    std::string national; // "n:..." for long enough phone numbers, else empty
    // The phone number had no country code and the default region supplied it.
    bool regionAssumed = false;

    friend bool operator==(const AddressKey&, const AddressKey&) = default;
};

// The keys of `address`. `defaultRegion` is an ISO 3166 two-letter code in
// any case ("us", "GB"), used for numbers written without a country code;
// empty or unknown means none. Pure; any thread (libphonenumber's shared
// instance is thread-safe).
AddressKey addressKey(std::string_view address, std::string_view defaultRegion);

} // namespace orlune::core
