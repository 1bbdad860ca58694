#pragma once
// Where the chat model keeps its conversations.

#include "sessions/ChatSession.hpp"

#include <vector>

namespace orlune::rlm {

// Used by one owner, one call at a time; implementations need no locking.
class SessionStore {
public:
    virtual ~SessionStore() = default;

    // Every stored session in stored order; empty when nothing is stored yet.
    // Throws when what is stored cannot be read; there is no partial result.
    virtual std::vector<ChatSession> load() const = 0;

    // Replaces everything stored with exactly `sessions`. Throws on failure,
    // leaving what was stored before intact.
    virtual void save(const std::vector<ChatSession>& sessions) const = 0;
};

} // namespace orlune::rlm
