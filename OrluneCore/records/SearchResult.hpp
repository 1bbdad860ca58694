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
    // The bm25 score: lower is better (FTS5's scores are negative); 0 for
    // messages listed newest first without a query.
    double rank = 0;
    // The sender's name from the person's contacts; absent for your own
    // messages and for handles of no known person.
    std::optional<std::string> senderName;
    // What the person calls the chat (the chats table's title), else its
    // name, else its id.
    std::string chatTitle;

    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

} // namespace orlune::core
