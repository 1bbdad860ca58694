#pragma once
// The shadow database's reactions (tapbacks, stickers, poll votes standing on
// a message) and attachments (the files a message carries).

#include "records/ShadowMessage.hpp"
#include "shadow/ShadowConnection.hpp"
#include "store/ChatDBReader.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace orlune::core {

// A reaction as the shadow database keeps it (the reactions table).
struct StoredReaction {
    std::string sender; // the handle or "me"
    std::string kind;   // "love", "like", ... "sticker", "poll_vote"
    std::optional<std::string> emoji;
    int64_t timestamp = 0;
    // The reacting person's name from the contacts; absent for your own
    // reactions and for handles of no known person.
    std::optional<std::string> senderName = std::nullopt;
    bool operator==(const StoredReaction&) const = default;
};

// The reactions and attachments tables over a shared connection
// (ShadowConnection). Reads of a database made before these tables existed
// find nothing. Every failure is thrown as ShadowDBError (prepareFailed or
// queryFailed). Writes run in the caller's transaction.
class ShadowReactionsAndAttachments {
public:
    explicit ShadowReactionsAndAttachments(ShadowConnection& connection)
        : connection_(connection) {}

    // The reactions standing on a message, oldest first, with the reacting
    // person's name.
    std::vector<StoredReaction> reactionsOn(const std::string& guid);
    // A message's attachments in order.
    std::vector<ShadowAttachment> attachmentsOf(const std::string& guid);

    // Every stored reaction's own guid.
    std::vector<std::string> reactionGuids();
    // Which reaction of a sender and kind on a target: (target guid, sender,
    // kind).
    using ReactionKey = std::tuple<std::string, std::string, std::string>;
    // The stored reaction of each key, in order (its guid and time); absent
    // where none is stored.
    std::vector<std::optional<std::pair<std::string, int64_t>>>
    storedReactions(const std::vector<ReactionKey>& keys);
    // For each guid, in order, whether a reaction has it as its own guid or
    // as its target.
    std::vector<bool> mentioned(const std::vector<std::string>& guids);

    // Writes the messages' attachments, replacing those stored at the same
    // positions.
    void writeAttachments(const std::vector<ShadowMessage>& messages);
    // Applies `reactions` in order: an addition replaces the sender's
    // earlier reaction of its kind on the target, unless a later one is
    // stored; a removal deletes it.
    void apply(const std::vector<StoreReaction>& reactions);
    // Deletes the reactions on each of `guids` and the reactions whose own
    // guid is one of them.
    void removeMentioning(const std::vector<std::string>& guids);
    // Deletes every reaction and attachment.
    void clear();

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core
