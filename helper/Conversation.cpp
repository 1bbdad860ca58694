#include "helper/Conversation.hpp"

#include "helper/ChatWire.hpp"
#include "helper/MessageFormat.hpp"

namespace orlune::helper {

namespace {

using nlohmann::json;

// What is left of a cut tool call's text.
constexpr size_t kCutContentBytes = 200;
// A message this small gains nothing from being cut to a note.
constexpr size_t kSmallMessageBytes = 300;

size_t sizeOf(const json& message) {
    return wire::dump(message).size() + 1; // and the comma between messages
}

bool isToolResult(const json& message) {
    return message.value("role", "") == "tool";
}

bool hasToolCalls(const json& message) {
    auto calls = message.find("tool_calls");
    return calls != message.end() && calls->is_array() && !calls->empty();
}

} // namespace

void Conversation::add(json message, bool pinned) {
    Entry entry;
    entry.bytes = sizeOf(message);
    entry.pinned = pinned;
    bytes_ += entry.bytes;
    messages_.push_back(std::move(message));
    entries_.push_back(entry);
    if (bytes_ > maxBytes_) {
        // The model's findings go first, then its own arguments, then what
        // was said before the question.
        cutOldest(Bulk::toolResult) || cutOldest(Bulk::toolCalls) || cutOldest(Bulk::turn);
    }
}

bool Conversation::cutOldest(Bulk bulk) {
    for (size_t index = 0; index < entries_.size() && bytes_ > maxBytes_; ++index) {
        const json& message = messages_[index];
        if (entries_[index].pinned || entries_[index].cut ||
            entries_[index].bytes <= kSmallMessageBytes) {
            continue;
        }
        const Bulk kind = isToolResult(message)   ? Bulk::toolResult
                          : hasToolCalls(message) ? Bulk::toolCalls
                                                  : Bulk::turn;
        if (kind == bulk) {
            cut(index);
        }
    }
    return bytes_ <= maxBytes_;
}

void Conversation::cut(size_t index) {
    json& message = messages_[index];
    const std::string size = std::to_string(entries_[index].bytes) + " bytes";
    if (isToolResult(message)) {
        message["content"] = "(This result, " + size +
                             ", was left out to keep the conversation within its size limit.)";
    } else if (hasToolCalls(message)) {
        if (message["content"].is_string()) {
            message["content"] = clipped(message["content"].get<std::string>(), kCutContentBytes);
        }
        for (json& call : message["tool_calls"]) {
            if (call.is_object() && call.contains("function") && call["function"].is_object()) {
                call["function"]["arguments"] = "{}";
            }
        }
    } else {
        message["content"] = "(An earlier message of " + size +
                             " was left out to keep the conversation within its size limit.)";
    }
    const size_t now = sizeOf(message);
    bytes_ = bytes_ - entries_[index].bytes + now;
    entries_[index].bytes = now;
    entries_[index].cut = true;
}

} // namespace orlune::helper
