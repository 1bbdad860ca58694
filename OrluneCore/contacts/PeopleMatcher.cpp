#include "contacts/PeopleMatcher.hpp"

#include "base/Sha256.hpp"
#include "base/TextFold.hpp"
#include "contacts/AddressKey.hpp"

#include <algorithm>
#include <array>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace orlune::core {

namespace {

constexpr size_t kNoPerson = static_cast<size_t>(-1);

class UnionFind {
public:
    explicit UnionFind(size_t size) : parent_(size) {
        std::iota(parent_.begin(), parent_.end(), size_t{0});
    }
    size_t find(size_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];
            x = parent_[x];
        }
        return x;
    }
    void unite(size_t a, size_t b) {
        a = find(a);
        b = find(b);
        if (a != b) {
            parent_[std::max(a, b)] = std::min(a, b);
        }
    }

private:
    std::vector<size_t> parent_;
};

std::string personId(const std::string& uid) {
    return sha256HexPrefix(uid, 8);
}

// The keys of one card's addresses.
struct CardKeys {
    std::vector<std::string> exact;
    std::vector<std::string> national; // of numbers written without a country code
};

CardKeys keysOf(const ContactCard& card, const std::string& region) {
    CardKeys keys;
    for (const auto* list : {&card.phones, &card.emails}) {
        for (const std::string& address : *list) {
            AddressKey key = addressKey(address, region);
            if (key.exact.empty()) {
                continue;
            }
            if (key.regionAssumed && !key.national.empty()) {
                keys.national.push_back(std::move(key.national));
            }
            keys.exact.push_back(std::move(key.exact));
        }
    }
    return keys;
}

void addUnique(std::vector<std::string>& names, std::unordered_set<std::string>& seen,
               const std::string& name) {
    if (!name.empty() && seen.insert(text::fold(name)).second) {
        names.push_back(name);
    }
}

} // namespace

std::string displayNameOf(const ContactCard& card) {
    std::string name = card.firstName;
    if (!card.lastName.empty()) {
        name += name.empty() ? "" : " ";
        name += card.lastName;
    }
    for (const std::string* fallback : {&card.formattedName, &card.middleName}) {
        if (name.empty()) {
            name = *fallback;
        }
    }
    if (name.empty() && !card.nicknames.empty()) {
        name = card.nicknames.front();
    }
    if (name.empty()) {
        name = card.organization;
    }
    return name;
}

People matchPeople(const std::vector<ContactCard>& cards, const std::vector<HandleRecord>& handles,
                   const std::string& defaultRegion) {
    // Cards in their order: by source, then as given.
    std::vector<size_t> order(cards.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return cards[a].sourceIndex < cards[b].sourceIndex;
    });

    std::vector<CardKeys> keys(cards.size());
    for (size_t i = 0; i < cards.size(); ++i) {
        keys[i] = keysOf(cards[i], defaultRegion);
    }

    // Rule 2: the same uid, or a key shared with a card of another source.
    UnionFind groups(cards.size());
    std::unordered_map<std::string, size_t> cardOfUid;
    std::unordered_map<std::string, std::vector<size_t>> firstCardPerSource;
    for (const size_t card : order) {
        if (auto [it, added] = cardOfUid.emplace(cards[card].uid, card); !added) {
            groups.unite(it->second, card);
        }
        for (const std::string& key : keys[card].exact) {
            auto& holders = firstCardPerSource[key];
            const bool sourceSeen = std::any_of(holders.begin(), holders.end(), [&](size_t other) {
                return cards[other].sourceIndex == cards[card].sourceIndex;
            });
            if (!sourceSeen) {
                if (!holders.empty()) {
                    groups.unite(holders.front(), card);
                }
                holders.push_back(card);
            }
        }
    }

    // Rule 5: people in the order of their first card; names from the first
    // card with one.
    People result;
    std::vector<size_t> personOfCard(cards.size(), kNoPerson);
    {
        std::unordered_map<size_t, std::vector<size_t>> members;
        std::vector<size_t> roots;
        for (const size_t card : order) {
            auto& list = members[groups.find(card)];
            if (list.empty()) {
                roots.push_back(groups.find(card));
            }
            list.push_back(card);
        }
        for (const size_t root : roots) {
            const auto& group = members[root];
            std::optional<size_t> primary;
            for (const size_t card : group) {
                if (!displayNameOf(cards[card]).empty()) {
                    primary = card;
                    break;
                }
            }
            if (!primary) {
                continue;
            }
            const ContactCard& main = cards[*primary];
            Person person;
            person.displayName = displayNameOf(main);
            person.firstName = main.firstName;
            person.middleName = main.middleName;
            person.lastName = main.lastName;
            std::string smallestUid = main.uid;
            std::unordered_set<std::string> seenNicknames;
            std::unordered_set<std::string> seenNames{text::fold(person.displayName)};
            for (const size_t card : group) {
                const ContactCard& c = cards[card];
                smallestUid = std::min(smallestUid, c.uid);
                if (person.organization.empty()) {
                    person.organization = c.organization;
                }
                for (const std::string& nickname : c.nicknames) {
                    addUnique(person.nicknames, seenNicknames, nickname);
                }
                if (card != *primary) {
                    addUnique(person.otherNames, seenNames, displayNameOf(c));
                }
            }
            person.id = personId(smallestUid);
            for (const size_t card : group) {
                personOfCard[card] = result.people.size();
            }
            result.people.push_back(std::move(person));
        }
    }

    // Rule 3: keys to people, the first card in order winning.
    std::unordered_map<std::string, size_t> personOfKey;
    std::unordered_map<std::string, size_t> personOfNationalKey;
    for (const size_t card : order) {
        if (personOfCard[card] == kNoPerson) {
            continue;
        }
        for (const std::string& key : keys[card].exact) {
            personOfKey.emplace(key, personOfCard[card]);
        }
        for (const std::string& key : keys[card].national) {
            personOfNationalKey.emplace(key, personOfCard[card]);
        }
    }

    std::vector<size_t> handleOrder(handles.size());
    std::iota(handleOrder.begin(), handleOrder.end(), size_t{0});
    std::stable_sort(handleOrder.begin(), handleOrder.end(),
                     [&](size_t a, size_t b) { return handles[a].rowid < handles[b].rowid; });
    std::vector<size_t> personOfHandle(handles.size(), kNoPerson);
    // One address is often two handles (iMessage and SMS): its key once.
    std::unordered_map<std::string, size_t> personOfAddress;
    for (const size_t h : handleOrder) {
        const HandleRecord& handle = handles[h];
        const std::string& region = handle.country.empty() ? defaultRegion : handle.country;
        const std::string cacheKey = handle.id + '\n' + region;
        auto cached = personOfAddress.find(cacheKey);
        if (cached == personOfAddress.end()) {
            const AddressKey key = addressKey(handle.id, region);
            size_t person = kNoPerson;
            if (auto found = personOfKey.find(key.exact); found != personOfKey.end()) {
                person = found->second;
            } else if (!key.national.empty()) {
                if (auto loose = personOfNationalKey.find(key.national);
                    loose != personOfNationalKey.end()) {
                    person = loose->second;
                }
            }
            cached = personOfAddress.emplace(cacheKey, person).first;
        }
        personOfHandle[h] = cached->second;
    }

    // Rule 4: a person-centric group takes the person of its first matched
    // handle.
    std::unordered_map<std::string, size_t> personOfGroup;
    for (const size_t h : handleOrder) {
        if (!handles[h].personCentricId.empty() && personOfHandle[h] != kNoPerson) {
            personOfGroup.emplace(handles[h].personCentricId, personOfHandle[h]);
        }
    }
    for (const size_t h : handleOrder) {
        if (personOfHandle[h] == kNoPerson && !handles[h].personCentricId.empty()) {
            if (auto found = personOfGroup.find(handles[h].personCentricId);
                found != personOfGroup.end()) {
                personOfHandle[h] = found->second;
            }
        }
        if (personOfHandle[h] != kNoPerson) {
            result.links.push_back(HandleLink{handles[h].rowid, handles[h].id, personOfHandle[h]});
        }
    }
    return result;
}

} // namespace orlune::core
