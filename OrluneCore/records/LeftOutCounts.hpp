#pragma once
// How many of the store's rows a sync read and did not copy as messages, by
// why. Messages in Recently Deleted are not counted here: the shadow
// database keeps that set itself (recently_deleted).

#include <cstdint>

namespace orlune::core {

struct LeftOutCounts {
    int64_t reactions = 0; // tapbacks, their removals, stickers, poll votes, text reactions
    int64_t events = 0;    // group events: members added or removed, renames...
    int64_t junk = 0;      // junk and blocked chats, spam (only while junk is left out)
    int64_t unsent = 0;    // messages taken back whole

    LeftOutCounts& operator+=(const LeftOutCounts& other) {
        reactions += other.reactions;
        events += other.events;
        junk += other.junk;
        unsent += other.unsent;
        return *this;
    }
    bool operator==(const LeftOutCounts&) const = default;
};

} // namespace orlune::core
