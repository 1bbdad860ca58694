// ShadowSync::refreshPeople: who is behind each handle and what each chat is
// called, from the store and the person's contacts.

#include "base/SystemLocale.hpp"
#include "contacts/AddressBookReader.hpp"
#include "contacts/ContactSources.hpp"
#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowPeople.hpp"
#include "sync/ShadowSync.hpp"

namespace orlune::core {

void ShadowSync::refreshPeople(ShadowDB& shadow, const std::vector<HandleRecord>& handles,
                               const std::vector<StoreChat>& chats,
                               const std::vector<ChatParticipant>& participants) {
    contactWarnings_.clear();
    const std::string region = systemPhoneRegion(*environment_);
    std::vector<std::string> ignored;
    std::vector<std::string> sources =
        AddressBookReader::bookPaths(AddressBookReader::location(*environment_), ignored);
    sources.insert(sources.end(), contactFiles_.begin(), contactFiles_.end());
    const std::string fingerprint =
        peopleFingerprint(sources, handles, chats, participants, region);
    if (shadow.peopleTables().fingerprint() == fingerprint) {
        return;
    }
    ContactScan scan = readContactSources(*environment_, contactFiles_);
    contactWarnings_ = std::move(scan.warnings);
    People people = matchPeople(scan.cards, handles, region);
    // A source that could not be read (a book locked by its owner) is tried
    // again at the next pass even if its file has not changed since.
    const std::string stored = contactWarnings_.empty() ? fingerprint : "retry";
    shadow.replacePeople(buildPeopleTables(std::move(people), chats, participants), stored);
}

} // namespace orlune::core
