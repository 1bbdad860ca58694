#pragma once
// One stored conversation.

#include "sessions/ChatDate.hpp"
#include "sessions/ChatMessage.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlune::rlm {

// A value identified by `id`. Which fields change, and when, is the chat
// model's business; this record only carries them.
struct ChatSession {
    std::string id; // a random UUID as upper-case canonical text
    ChatDate createdAt;
    ChatDate lastMessageAt; // last message's time, or the last save's when empty
    std::string title;
    std::int64_t messageCount = 0;      // as of the last save; never recomputed on reading
    std::vector<ChatMessage> messages;  // oldest first
    std::optional<std::string> summary; // the helper's running summary, once it sent one

    // A random session id: an upper-case canonical UUID.
    static std::string newID();

    bool operator==(const ChatSession&) const = default;
};

} // namespace orlune::rlm
