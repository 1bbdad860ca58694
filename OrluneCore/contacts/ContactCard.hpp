#pragma once
// One card of the person's contacts, from an address-book database or a
// vCard file, as read: nothing is normalised here. A plain value.

#include <string>
#include <vector>

namespace orlune::core {

struct ContactCard {
    // Stable identity of the card: the address book's own unique id
    // (ZUNIQUEID), a vCard's UID, or failing those "<source>#<record>".
    std::string uid;
    // Where it was read from (the book or file path); for messages to the
    // person reading a log.
    std::string source;
    // Position of its source among all sources read (0 first); cards of one
    // source keep their order of reading (record number, or place in the
    // file) behind it.
    int sourceIndex = 0;

    std::string firstName;
    std::string middleName;
    std::string lastName;
    std::string organization;
    // A vCard's formatted name (FN); empty for address-book records.
    std::string formattedName;
    std::vector<std::string> nicknames;
    std::vector<std::string> phones; // as written: "(555) 010-0001"
    std::vector<std::string> emails;

    friend bool operator==(const ContactCard&, const ContactCard&) = default;
};

// What reading contacts gave: the cards, and a message for each source that
// could not be read (locked, damaged, not an address book), for the caller to
// log. A source that fails adds no card.
struct ContactScan {
    std::vector<ContactCard> cards;
    std::vector<std::string> warnings;
};

} // namespace orlune::core
