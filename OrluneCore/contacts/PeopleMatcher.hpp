#pragma once
// Turns contact cards and the messaging store's handles into people: who is
// behind each handle, under which name.
//
// Rules, in order:
// 1. Every address on a card and every handle gets its AddressKey (phone
//    numbers on cards with the default region; a handle with its own
//    `country`, else the default region).
// 2. Cards are one person when they have the same uid, or when cards of
//    different sources share an exact key (the same person in the iCloud and
//    the Google book). Within one source, cards that share a number stay
//    apart (a landline on two family members' cards); of such cards, the
//    first in order gets the shared key.
// 3. A handle belongs to the person whose card has its exact key; failing
//    that, to the person with a card number written without a country code
//    whose national number is the handle's (8 digits or more). Short codes
//    and short numbers match only exactly. E-mail addresses match whatever
//    their case. Several people with the key: the first in order.
// 4. Handles with the same person_centric_id are one person: a handle that
//    matched no card takes the person of the first handle (by ROWID) of its
//    group that did.
// 5. Order of cards: by sourceIndex, then by place in the input. A person's
//    names come from its first card that has a name (first, middle, last,
//    formatted name, nickname or organisation); nicknames from all its cards;
//    the other cards' display names, when spelled differently, are kept as
//    other names. People whose cards have no name at all are left out.
// 6. A person's id is the first 16 hex digits of SHA-256 over the smallest
//    uid of its cards: the same while that card lives, whichever book is read
//    first.

#include "contacts/ContactCard.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace orlune::core {

// One row of the messaging store's `handle` table.
struct HandleRecord {
    int64_t rowid = 0;
    std::string id;              // "+15550100001", "alex.k@example.com", "262966"
    std::string service;         // "iMessage", "SMS", ...
    std::string country;         // "us"; empty when unknown
    std::string personCentricId; // empty when the store has none
};

struct Person {
    std::string id;
    // How the person is shown: "First Last" (middle name left out), else the
    // formatted name, else the nickname, else the organisation.
    std::string displayName;
    std::string firstName;
    std::string middleName;
    std::string lastName;
    std::string organization;
    std::vector<std::string> nicknames;  // from all cards, first spelling of each
    std::vector<std::string> otherNames; // other cards' display names
};

struct HandleLink {
    int64_t handleRowid = 0;
    std::string handleId;
    size_t person = 0; // index into People::people
};

struct People {
    std::vector<Person> people;
    // Matched handles only, by ROWID; a handle of no person has no link.
    std::vector<HandleLink> links;
};

// `defaultRegion`: ISO 3166 code for numbers written without a country code
// (systemPhoneRegion() at the call site). Pure; any thread.
People matchPeople(const std::vector<ContactCard>& cards, const std::vector<HandleRecord>& handles,
                   const std::string& defaultRegion);

// The name a card is shown under (rule of Person::displayName); empty when
// it has none.
std::string displayNameOf(const ContactCard& card);

} // namespace orlune::core
