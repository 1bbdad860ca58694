#include "sessions/ChatMessage.hpp"

namespace orlune::rlm {

ChatMessage ChatMessage::make(ChatRole role, std::string text) {
    return ChatMessage{QUuid::createUuid(), role, std::move(text), ChatDate::now(), {}};
}

std::string ChatMessage::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace orlune::rlm
