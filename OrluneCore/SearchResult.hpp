#pragma once
// One ranked full-text hit from the shadow database. An immutable value.

#include <cstdint>
#include <optional>
#include <string>

namespace orlune::core {

struct SearchResult {
    std::string guid;
    std::string chatId;
    std::optional<std::string> chatName; // absent when the chat has no name
    std::string sender;
    std::string text;
    int64_t timestamp = 0; // the stored value, unconverted
    bool isFromMe = false;
    bool isGroup = false;
    // The bm25 score: lower is better (FTS5's scores are negative).
    double rank = 0;

    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

} // namespace orlune::core
