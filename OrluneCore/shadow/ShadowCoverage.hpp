#pragma once
// What the shadow database covers of the person's messages: how many, from
// when to when, in how many chats, and what the sync left out.

#include "records/LeftOutCounts.hpp"
#include "time/LocalTime.hpp"

#include <cstdint>
#include <optional>

namespace orlune::core {

// The first and last instants of the copied messages (rows whose date the
// store could not give are not counted).
struct MessageTimeSpan {
    Instant first;
    Instant last;
    bool operator==(const MessageTimeSpan&) const = default;
};

struct Coverage {
    int64_t messages = 0;
    // Absent while no message is copied.
    std::optional<MessageTimeSpan> span;
    int64_t chats = 0; // chats with at least one copied message
    // Chats the person chose to leave out, as the last sync found them.
    int64_t chatsExcluded = 0;
    // What the sync read and left out (zeros for a database copied before
    // it counted them, until its next sync). Rows counted here that the
    // store later deletes for good stay counted until the store is read
    // again from its start (their kind is not known by then).
    LeftOutCounts leftOut;
    // Messages the store holds in Recently Deleted, left out while there.
    int64_t recentlyDeleted = 0;
    // Attachments of copied messages whose file is not on this computer
    // (only in the cloud); hidden ones (a link preview's image) not counted.
    int64_t attachmentsNotDownloaded = 0;
};

} // namespace orlune::core
