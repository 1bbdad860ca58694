// libFuzzer target: vCard text on arbitrary bytes, and the cards it gives
// matched to handles made of their own addresses. Parsing must never throw or
// read outside its input; every text it returns is well-formed UTF-8; every
// card's own addresses find a person when the card has a name.

#include "base/Utf8.hpp"
#include "contacts/PeopleMatcher.hpp"
#include "contacts/VCardReader.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace orlune::core;

void checkText(const std::string& text) {
    if (!utf8::isValid(text)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<ContactCard> cards = VCardReader::parse(text, "fuzz.vcf", 0);
    std::vector<HandleRecord> handles;
    for (const ContactCard& card : cards) {
        for (const std::string* field : {&card.firstName, &card.middleName, &card.lastName,
                                         &card.organization, &card.formattedName, &card.uid}) {
            checkText(*field);
        }
        for (const auto* list : {&card.nicknames, &card.phones, &card.emails}) {
            for (const std::string& item : *list) {
                checkText(item);
                handles.push_back({static_cast<int64_t>(handles.size()) + 1, item, "SMS", "", ""});
            }
        }
    }
    const People people = matchPeople(cards, handles, "US");
    for (const HandleLink& link : people.links) {
        if (link.person >= people.people.size()) {
            std::abort();
        }
    }
    return 0;
}
