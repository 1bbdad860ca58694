#include "sessions/CitedMessage.hpp"

#include <nlohmann/json.hpp>

namespace orlune::rlm {

namespace {

std::string textOf(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

} // namespace

std::vector<CitedMessage> CitedMessage::listFromJson(const nlohmann::json& value) {
    std::vector<CitedMessage> messages;
    if (!value.is_array()) {
        return messages;
    }
    for (const nlohmann::json& entry : value) {
        if (!entry.is_object()) {
            continue;
        }
        CitedMessage message{textOf(entry, "guid"), textOf(entry, "sender_name"),
                             textOf(entry, "chat_title"), textOf(entry, "time"),
                             textOf(entry, "text")};
        if (message.text.empty()) {
            continue;
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

nlohmann::json CitedMessage::listToJson(const std::vector<CitedMessage>& messages) {
    nlohmann::json array = nlohmann::json::array();
    for (const CitedMessage& message : messages) {
        array.push_back({{"guid", message.guid},
                         {"sender_name", message.senderName},
                         {"chat_title", message.chatTitle},
                         {"time", message.time},
                         {"text", message.text}});
    }
    return array;
}

} // namespace orlune::rlm
