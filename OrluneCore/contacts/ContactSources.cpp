#include "contacts/ContactSources.hpp"

#include "contacts/AddressBookReader.hpp"
#include "contacts/VCardReader.hpp"

#include <algorithm>

namespace orlune::core {

ContactScan readContactSources(const Environment& environment,
                               const std::vector<std::string>& vcardFiles) {
    ContactScan scan = AddressBookReader::readAll(environment);
    int sourceIndex = 0;
    for (const ContactCard& card : scan.cards) {
        sourceIndex = std::max(sourceIndex, card.sourceIndex + 1);
    }
    // Sources that failed still took an index; counting from past the last
    // card's keeps vCard files after every book either way.
    for (const std::string& path : vcardFiles) {
        try {
            auto cards = VCardReader::readFile(path, sourceIndex);
            scan.cards.insert(scan.cards.end(), std::make_move_iterator(cards.begin()),
                              std::make_move_iterator(cards.end()));
        } catch (const VCardReader::Error& e) {
            scan.warnings.push_back(e.what());
        } catch (const std::exception& e) {
            // Out of memory or the like: this file is skipped, the rest go on.
            scan.warnings.push_back(VCardReader::Error(path, e.what()).what());
        }
        ++sourceIndex;
    }
    return scan;
}

} // namespace orlune::core
