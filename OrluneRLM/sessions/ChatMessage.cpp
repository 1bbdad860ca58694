#include "sessions/ChatMessage.hpp"

namespace orlune::rlm {

ChatMessage ChatMessage::make(ChatRole role, std::string text) {
    ChatMessage message;
    message.id = QUuid::createUuid();
    message.role = role;
    message.text = std::move(text);
    message.timestamp = ChatDate::now();
    return message;
}

std::string ChatMessage::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace orlune::rlm
