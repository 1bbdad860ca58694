#pragma once
// One chat bubble.

#include "sessions/AnswerSource.hpp"
#include "sessions/ChatDate.hpp"
#include "sessions/ChatRole.hpp"
#include "sessions/CitedMessage.hpp"

#include <QUuid>
#include <optional>
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
    // For an answer: who wrote it, and the model's name when a model did.
    AnswerSource source = AnswerSource::unknown;
    std::optional<std::string> model;

    // A new message with a random id, stamped now.
    static ChatMessage make(ChatRole role, std::string text);

    // `id` as canonical 8-4-4-4-12 text with upper-case letters.
    std::string idText() const;

    // An answer made from the index alone, without a model: its text is the
    // list of the messages found, and its first paragraph says, for people,
    // why no model was used.
    bool isIndexAnswer() const {
        return role == ChatRole::assistant && source == AnswerSource::index;
    }

    bool operator==(const ChatMessage&) const = default;
};

} // namespace orlune::rlm
