#include "services/ChatList.hpp"

#include <algorithm>

namespace orlune::rlm {

namespace {

constexpr const char* kChatsWithCounts =
    "SELECT c.chat_id, c.title, c.is_group,\n"
    "    (SELECT COUNT(*) FROM messages m WHERE m.chat_id = c.chat_id) AS messages\n"
    "FROM chats c ORDER BY messages DESC, c.title";
// More chats than anyone has; the list stops there rather than at the query
// surface's default of 100 rows.
constexpr int kMostChats = 1'000'000;

} // namespace

std::vector<ListedChat> listChats(core::ShadowDBReader& db, const AppConfig& config) {
    std::vector<ListedChat> chats;
    const std::set<std::string> excluded = config.excludedChatIds();
    if (db.hasPeopleTables()) {
        core::QueryBounds bounds;
        bounds.maxResultBytes = 256 * 1024 * 1024;
        for (const auto& row : db.executeReadOnly(kChatsWithCounts, kMostChats, bounds).rows) {
            const std::string id = row.at("chat_id").asText();
            chats.push_back(ListedChat{id, row.at("title").asText(),
                                       row.at("is_group").asInteger() != 0,
                                       row.at("messages").asInteger(), excluded.count(id) > 0});
        }
    }
    for (const ExcludedChat& chat : config.excludedChats) {
        const bool listed = std::any_of(chats.begin(), chats.end(), [&](const ListedChat& line) {
            return line.chatId == chat.chatId;
        });
        if (!listed) {
            chats.push_back(ListedChat{chat.chatId, chat.title, false, 0, true});
        }
    }
    return chats;
}

} // namespace orlune::rlm
