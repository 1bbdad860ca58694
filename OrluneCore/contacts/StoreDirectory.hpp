#pragma once
// Who and where, from the messaging store: its handles (the addresses people
// write from) and its chats, read-only, for naming senders and chats.

#include "contacts/PeopleMatcher.hpp"
#include "sql/SQLite.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

namespace store_directory_sql {

inline constexpr std::string_view kHandleColumns = "SELECT name FROM pragma_table_info('handle')";
// Formatted with the optional columns' names, or NULL where the store lacks
// them (older stores have no person_centric_id).
inline constexpr std::string_view kHandlesTemplate =
    "SELECT ROWID, id, service, {country}, {person} FROM handle WHERE id IS NOT NULL "
    "ORDER BY ROWID";
inline constexpr std::string_view kChats = "SELECT guid, display_name, style FROM chat "
                                           "WHERE guid IS NOT NULL ORDER BY ROWID";

} // namespace store_directory_sql

// One chat of the store.
struct StoreChat {
    std::string guid;                       // as the shadow database's chat_id
    std::optional<std::string> displayName; // absent when unnamed (NULL or empty)
    bool isGroup = false;                   // chat.style 43

    friend bool operator==(const StoreChat&, const StoreChat&) = default;
};

// Reads from a connection the caller owns (a store opened with
// openStoreReadOnly). Stateless; any thread that owns the connection. Throws
// sqlite::Error.
class StoreDirectory {
public:
    StoreDirectory() = delete;

    // Every handle with an address, by ROWID, with its `country` and
    // `person_centric_id` where the store has those columns (empty where not,
    // or NULL).
    static std::vector<HandleRecord> handles(sqlite3* store);
    // Every chat with a guid, by ROWID.
    static std::vector<StoreChat> chats(sqlite3* store);
};

} // namespace orlune::core
