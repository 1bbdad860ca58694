#pragma once
// The messages of one model's conversation, kept within a size limit,
// whatever the model server sends back: when a message takes the whole past
// the limit, the oldest bulky messages are cut down to a short note until it
// fits again — first tool results, then the arguments of the model's own
// tool calls, then earlier turns of the conversation. Messages added as
// pinned (the system prompt, the question, the note on the last call) are
// never cut.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <vector>

namespace orlune::helper {

class Conversation {
public:
    // The most the messages of one conversation take as JSON text.
    static constexpr size_t kDefaultMaxBytes = 512 * 1024;

    explicit Conversation(size_t maxBytes = kDefaultMaxBytes) : maxBytes_(maxBytes) {}

    // Adds `message` (a chat-completions message) at the end, then cuts older
    // messages as needed.
    void add(nlohmann::json message, bool pinned = false);

    // The messages, oldest first: a JSON array.
    const nlohmann::json& messages() const { return messages_; }

    // The size of the messages as JSON text, in bytes.
    size_t bytes() const { return bytes_; }

private:
    enum class Bulk { toolResult, toolCalls, turn };
    struct Entry {
        size_t bytes = 0;
        bool pinned = false;
        bool cut = false;
    };

    // Cuts the oldest messages of `bulk` until the whole fits; whether it does.
    bool cutOldest(Bulk bulk);
    void cut(size_t index);

    size_t maxBytes_;
    nlohmann::json messages_ = nlohmann::json::array();
    std::vector<Entry> entries_;
    size_t bytes_ = 0;
};

} // namespace orlune::helper
