// ShadowSync::refreshPeople: who is behind each handle and what each chat is
// called, from the store and the person's contacts.

#include "base/SystemLocale.hpp"
#include "contacts/AddressBookReader.hpp"
#include "contacts/ContactSources.hpp"
#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowPeople.hpp"
#include "sync/ShadowSync.hpp"

#include <algorithm>
#include <set>

namespace orlune::core {

namespace {

// `people` matched with the left-out handles among the others, without them:
// their links go, and so does each person linked to one of them and to no
// other handle. People linked to no handle at all (contacts never met) stay.
People withoutPeopleMetOnlyThere(People people, const std::vector<HandleRecord>& leftOutHandles) {
    std::set<int64_t> leftOut;
    for (const HandleRecord& handle : leftOutHandles) {
        leftOut.insert(handle.rowid);
    }
    std::vector<bool> metThere(people.people.size(), false);
    std::vector<bool> metElsewhere(people.people.size(), false);
    for (const HandleLink& link : people.links) {
        (leftOut.count(link.handleRowid) > 0 ? metThere : metElsewhere)[link.person] = true;
    }
    People kept;
    std::vector<size_t> newIndex(people.people.size(), 0);
    for (size_t i = 0; i < people.people.size(); ++i) {
        if (metThere[i] && !metElsewhere[i]) {
            continue;
        }
        newIndex[i] = kept.people.size();
        kept.people.push_back(std::move(people.people[i]));
    }
    for (HandleLink& link : people.links) {
        if (leftOut.count(link.handleRowid) == 0) {
            link.person = newIndex[link.person];
            kept.links.push_back(std::move(link));
        }
    }
    return kept;
}

} // namespace

void ShadowSync::refreshPeople(ShadowDB& shadow, const std::vector<HandleRecord>& handles,
                               const std::vector<HandleRecord>& leftOutHandles,
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
    // The left-out handles are matched too, to find who is behind them.
    std::vector<HandleRecord> matched = handles;
    matched.insert(matched.end(), leftOutHandles.begin(), leftOutHandles.end());
    std::sort(matched.begin(), matched.end(),
              [](const HandleRecord& a, const HandleRecord& b) { return a.rowid < b.rowid; });
    People people =
        withoutPeopleMetOnlyThere(matchPeople(scan.cards, matched, region), leftOutHandles);
    // A source that could not be read (a book locked by its owner) is tried
    // again at the next pass even if its file has not changed since.
    const std::string stored = contactWarnings_.empty() ? fingerprint : "retry";
    shadow.replacePeople(buildPeopleTables(std::move(people), chats, participants), stored);
}

} // namespace orlune::core
