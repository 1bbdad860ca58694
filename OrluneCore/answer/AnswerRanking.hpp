#pragma once
// Turns the ranked lists of several searches for one question into one list
// of the messages worth showing: reciprocal-rank fusion, near-identical texts
// collapsed, ties broken by recency.

#include "records/SearchResult.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// One search's results, best first, and how much its ranks count.
struct RankedList {
    std::vector<SearchResult> messages;
    double weight = 1.0;
};

struct RankedMessage {
    SearchResult message;
    // The sum over the lists that hold the message of weight / (k + rank),
    // with rank 1 for a list's first message.
    double score = 0;
    // How many other messages with the same text were folded into this one.
    size_t sameText = 0;
};

// The constant of reciprocal-rank fusion: how slowly a rank's worth falls.
inline constexpr double kFusionConstant = 60;

// The key under which texts count as the same: the folded letters and digits
// of `text` ("Grandma says hi!" and "grandma says hi" are the same). Empty
// when the text has none (an attachment alone): such messages never collapse.
std::string sameTextKey(std::string_view text);

// The key under which an answer shows `message` once among its copies: its
// text's sameTextKey or, for a message without words, a key of its own (its
// guid), so that two photos are never taken for copies of each other.
std::string shownTextKey(const SearchResult& message);

// The fused list, at most `limit` messages: each message (by guid) once, and
// each text (shownTextKey) once, shown by its newest copy with the best score
// of its copies; ordered by score, then newest first (store dates of either
// unit compared as instants), then guid. Pure.
std::vector<RankedMessage> fuseRankings(const std::vector<RankedList>& lists, size_t limit);

} // namespace orlune::core
