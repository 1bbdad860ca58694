#pragma once
// One ranked full-text hit from the shadow database. An immutable value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The ranked full-text query behind ShadowDB::search, one SearchResult a
// row in the column order above, best first. Binds the MATCH expression at 1
// and the row limit at 2. Kept here so that every caller runs the same text.
inline constexpr std::string_view kSearchResultSql =
    "SELECT\n"
    "    m.guid,\n"
    "    m.chat_id,\n"
    "    m.chat_name,\n"
    "    m.sender,\n"
    "    m.text,\n"
    "    m.timestamp,\n"
    "    m.is_from_me,\n"
    "    m.is_group,\n"
    "    bm25(messages_fts) as rank\n"
    "FROM messages_fts\n"
    "JOIN messages m ON messages_fts.rowid = m.rowid\n"
    "WHERE messages_fts MATCH ?\n"
    "ORDER BY rank\n"
    "LIMIT ?";

} // namespace orlune::core
