#pragma once
// One chat bubble.

#include "sessions/ChatDate.hpp"
#include "sessions/ChatRole.hpp"
#include "sessions/CitedMessage.hpp"

#include <QUuid>
#include <string>
#include <vector>

namespace orlune::rlm {

// An immutable value identified by `id`; equal when all fields are.
struct ChatMessage {
    QUuid id;
    ChatRole role = ChatRole::user;
    std::string text; // questions and answers are stored trimmed
    ChatDate timestamp;
    // An answer's messages from the history it relies on; empty otherwise.
    std::vector<CitedMessage> citations;

    // A new message with a random id, stamped now.
    static ChatMessage make(ChatRole role, std::string text);

    // `id` as canonical 8-4-4-4-12 text with upper-case letters.
    std::string idText() const;

    bool operator==(const ChatMessage&) const = default;
};

} // namespace orlune::rlm
