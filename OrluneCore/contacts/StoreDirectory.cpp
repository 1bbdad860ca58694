#include "contacts/StoreDirectory.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

constexpr int kGroupChatStyle = 43;

void replace(std::string& text, std::string_view placeholder, std::string_view value) {
    text.replace(text.find(placeholder), placeholder.size(), value);
}

} // namespace

std::vector<HandleRecord> StoreDirectory::handles(sqlite3* store) {
    std::vector<std::string> columns;
    {
        sqlite::Statement probe;
        probe.prepare(store, store_directory_sql::kHandleColumns);
        while (probe.step()) {
            columns.push_back(probe.columnText(0));
        }
    }
    auto has = [&](std::string_view name) {
        return std::find(columns.begin(), columns.end(), name) != columns.end();
    };
    std::string sql(store_directory_sql::kHandlesTemplate);
    replace(sql, "{country}", has("country") ? "country" : "NULL");
    replace(sql, "{person}", has("person_centric_id") ? "person_centric_id" : "NULL");

    std::vector<HandleRecord> handles;
    sqlite::Statement query;
    query.prepare(store, sql);
    while (query.step()) {
        HandleRecord handle;
        handle.rowid = query.columnInt64(0);
        handle.id = query.columnText(1);
        handle.service = query.columnText(2);
        handle.country = query.columnText(3);
        handle.personCentricId = query.columnText(4);
        if (!handle.id.empty()) {
            handles.push_back(std::move(handle));
        }
    }
    return handles;
}

std::vector<StoreChat> StoreDirectory::chats(sqlite3* store) {
    std::vector<StoreChat> chats;
    sqlite::Statement query;
    query.prepare(store, store_directory_sql::kChats);
    while (query.step()) {
        StoreChat chat;
        chat.guid = query.columnText(0);
        chat.displayName = query.columnOptionalText(1);
        if (chat.displayName && chat.displayName->empty()) {
            chat.displayName.reset();
        }
        chat.isGroup = query.columnInt64(2) == kGroupChatStyle;
        chats.push_back(std::move(chat));
    }
    return chats;
}

} // namespace orlune::core
