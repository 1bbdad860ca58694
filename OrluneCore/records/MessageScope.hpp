#pragma once
// Which messages a search may return, as the shadow database names them:
// senders, chats and a range of time. A plain value; resolveFilters
// (MessageSearch) makes one from what a person typed.

#include "time/LocalTime.hpp"

#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

struct MessageScope {
    // Absent: any sender. Otherwise messages from these handles (as
    // messages.sender holds them), plus your own when `fromMe`; an empty
    // list without `fromMe` matches nothing.
    std::optional<std::vector<std::string>> senders;
    bool fromMe = false;
    // Absent: any chat. Otherwise messages in these chats (chat_id); an empty
    // list matches nothing.
    std::optional<std::vector<std::string>> chatIds;
    // The instants the message's time must lie in; open sides are unbounded.
    TimeRange time;
    // Absent: any message. Otherwise messages with a visible attachment of
    // one of these kinds (attachmentKindName: "photo", "pdf", ...; "file"
    // takes any kind); on a database that keeps no attachments, none.
    std::optional<std::vector<std::string>> attachmentKinds;
    // Messages with a reaction standing on them.
    struct Reactions {
        // reactionKindName ("love", "like", "laugh", ...); empty: any kind.
        std::vector<std::string> kinds;
        // Who left it: handles as reactions.sender holds them, "me" for
        // yours; absent: anyone; an empty list matches nothing.
        std::optional<std::vector<std::string>> by;
    };
    // Absent: any message. On a database that keeps no reactions, none.
    std::optional<Reactions> reactions;

    // A listing without words starts with the oldest messages instead of the
    // newest (no effect on a ranked search).
    bool oldestFirst = false;

    // True when nothing is restricted.
    bool unrestricted() const {
        return !senders && !chatIds && !time.start && !time.end && !attachmentKinds && !reactions;
    }
};

} // namespace orlune::core
