#include "helper/MessageFormat.hpp"

#include "OrluneCore/LocalTime.hpp"
#include "OrluneCore/StoreTime.hpp"

namespace orlune::helper {

std::string formatMessageTime(int64_t storeDate) {
    const std::optional<core::Instant> instant = core::instantFromStoreDate(storeDate);
    if (!instant) {
        return "an unknown time";
    }
    return core::LocalCalendar(core::TimeContext::system()).formatForPerson(*instant);
}

std::string senderLabel(const MessageHit& message) {
    if (message.isFromMe || message.sender == "me") {
        return "You";
    }
    if (message.senderName && !message.senderName->empty()) {
        return *message.senderName;
    }
    return message.sender.empty() ? "unknown" : message.sender;
}

std::string chatLabel(const MessageHit& message) {
    if (!message.chatTitle.empty()) {
        return message.chatTitle;
    }
    if (message.chatName && !message.chatName->empty()) {
        return *message.chatName;
    }
    return message.chatId;
}

std::string snippet(std::string_view text, size_t maxBytes) {
    std::string out;
    size_t end = text.size();
    bool cut = false;
    if (end > maxBytes) {
        end = maxBytes;
        // Step back to the start of a UTF-8 character.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        cut = true;
    }
    out.reserve(end + 3);
    for (size_t i = 0; i < end; ++i) {
        char c = text[i];
        out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
    if (cut) {
        out += "...";
    }
    return out;
}

std::string describeMessage(const MessageHit& message, size_t maxTextBytes) {
    return senderLabel(message) + " in " + chatLabel(message) + ", " +
           formatMessageTime(message.timestamp) + ": \"" + snippet(message.text, maxTextBytes) +
           "\"";
}

} // namespace orlune::helper
