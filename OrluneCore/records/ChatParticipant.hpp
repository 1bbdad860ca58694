#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orlune::core {

// One member of one chat of the messaging store: a plain value.
struct ChatParticipant {
    std::string chatId;                 // chat.guid
    int64_t handleId = 0;               // handle.ROWID
    std::string handle;                 // handle.id: the member's address as the store records it
    std::optional<std::string> service; // handle.service; absent for SQL NULL

    bool operator==(const ChatParticipant&) const = default;
};

} // namespace orlune::core
