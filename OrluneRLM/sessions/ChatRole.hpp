#pragma once
// Who wrote a chat message.

#include <optional>
#include <string>
#include <string_view>

namespace orlune::rlm {

enum class ChatRole {
    user,      // "user": a question typed by the user
    assistant, // "assistant": an answer returned by the helper
    system,    // "system": a note from the application (only ever read from files)
};

// The raw value: "user", "assistant" or "system".
std::string toRawValue(ChatRole role);
// The role whose raw value is `raw`, or absent for any other text.
std::optional<ChatRole> chatRoleFromRawValue(std::string_view raw);

} // namespace orlune::rlm
