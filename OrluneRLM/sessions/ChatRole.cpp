#include "sessions/ChatRole.hpp"

namespace orlune::rlm {

std::string toRawValue(ChatRole role) {
    switch (role) {
    case ChatRole::user:
        return "user";
    case ChatRole::assistant:
        return "assistant";
    case ChatRole::system:
        return "system";
    }
    return "user";
}

std::optional<ChatRole> chatRoleFromRawValue(std::string_view raw) {
    if (raw == "user") {
        return ChatRole::user;
    }
    if (raw == "assistant") {
        return ChatRole::assistant;
    }
    if (raw == "system") {
        return ChatRole::system;
    }
    return std::nullopt;
}

} // namespace orlune::rlm
