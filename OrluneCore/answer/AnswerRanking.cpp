#include "answer/AnswerRanking.hpp"

#include "base/TextFold.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <unordered_map>

namespace orlune::core {

namespace {

// Microseconds since 1970 for a store date of either unit; unknown dates
// sort last.
int64_t comparableTime(int64_t storeDate) {
    const auto instant = instantFromStoreDate(storeDate);
    return instant ? instant->time_since_epoch().count() : INT64_MIN;
}

bool better(const RankedMessage& a, const RankedMessage& b) {
    if (a.score != b.score) {
        return a.score > b.score;
    }
    const int64_t aTime = comparableTime(a.message.timestamp);
    const int64_t bTime = comparableTime(b.message.timestamp);
    if (aTime != bTime) {
        return aTime > bTime;
    }
    return a.message.guid < b.message.guid;
}

} // namespace

std::string sameTextKey(std::string_view text) {
    std::string key;
    for (const text::Token& token : text::tokenize(text)) {
        if (token.kind == text::TokenKind::symbol) {
            continue;
        }
        if (!key.empty()) {
            key += ' ';
        }
        key += token.folded;
    }
    return key;
}

std::string shownTextKey(const SearchResult& message) {
    std::string key = sameTextKey(message.text);
    if (key.empty()) {
        // No key of words holds a control character.
        key.assign(1, '\x01').append(message.guid);
    }
    return key;
}

std::vector<RankedMessage> fuseRankings(const std::vector<RankedList>& lists, size_t limit) {
    std::vector<RankedMessage> fused;
    std::unordered_map<std::string, size_t> byGuid;
    for (const RankedList& list : lists) {
        for (size_t rank = 0; rank < list.messages.size(); ++rank) {
            const SearchResult& message = list.messages[rank];
            const double worth = list.weight / (kFusionConstant + static_cast<double>(rank + 1));
            auto [at, added] = byGuid.try_emplace(message.guid, fused.size());
            if (added) {
                fused.push_back(RankedMessage{message, 0, 0});
            }
            fused[at->second].score += worth;
        }
    }
    std::sort(fused.begin(), fused.end(), better);

    std::vector<RankedMessage> kept;
    std::unordered_map<std::string, size_t> byText;
    for (RankedMessage& candidate : fused) {
        const std::string key = shownTextKey(candidate.message);
        const auto same = byText.find(key);
        if (same != byText.end()) {
            // The copies' best score stays; the newest copy is the one shown.
            RankedMessage& shown = kept[same->second];
            ++shown.sameText;
            if (comparableTime(candidate.message.timestamp) >
                comparableTime(shown.message.timestamp)) {
                shown.message = std::move(candidate.message);
            }
            continue;
        }
        if (kept.size() == limit) {
            continue;
        }
        byText.emplace(key, kept.size());
        kept.push_back(std::move(candidate));
    }
    return kept;
}

} // namespace orlune::core
