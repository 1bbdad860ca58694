#include "sync/SyncDecisions.hpp"

#include "shadow/ShadowBatchTable.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

namespace orlune::core {

namespace {

bool sameContent(const ShadowMessageTables::StoredCopy& stored, const ShadowMessage& message) {
    const std::optional<std::string> types =
        message.attachmentTypes().empty()
            ? std::nullopt
            : std::optional<std::string>(
                  ShadowBatchTable::renderAttachmentTypes(message.attachmentTypes()));
    return stored.attachmentTypes == types && stored.editedAt == message.editedAt() &&
           stored.chatId == message.chatId() && stored.chatName == message.chatName() &&
           stored.sender == message.sender() && stored.text == message.text() &&
           stored.timestamp == message.timestamp() && stored.isFromMe == message.isFromMe() &&
           stored.isGroup == message.isGroup() &&
           stored.threadOriginatorGuid == message.threadOriginatorGuid();
}

} // namespace

std::vector<ShadowMessage> messagesToWrite(ShadowDB& shadow,
                                           const std::vector<ShadowMessage>& candidates) {
    // Rows of one guid, in the order read; guids in order of first appearance.
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<const ShadowMessage*>> byGuid;
    for (const ShadowMessage& message : candidates) {
        auto [entry, added] = byGuid.try_emplace(message.guid());
        if (added) {
            order.push_back(message.guid());
        }
        entry->second.push_back(&message);
    }

    const auto copies = shadow.messageTables().storedCopies(order);
    std::vector<ShadowMessage> toWrite;
    for (size_t i = 0; i < order.size(); ++i) {
        const auto& rows = byGuid[order[i]];
        if (!copies[i]) {
            toWrite.push_back(*rows.back());
            continue;
        }
        const ShadowMessage* sameChat = nullptr;
        for (const ShadowMessage* row : rows) {
            if (row->chatId() == copies[i]->chatId) {
                sameChat = row;
            }
        }
        if (sameChat != nullptr && sameContent(*copies[i], *sameChat)) {
            continue;
        }
        toWrite.push_back(sameChat != nullptr ? *sameChat : *rows.back());
    }
    return toWrite;
}

std::vector<std::pair<std::string, std::vector<std::string>>>
membershipsToWrite(ShadowDB& shadow, const std::vector<ShadowMessage>& candidates,
                   const std::vector<ShadowMessage>& written) {
    // Each guid's chats, sorted, in order of first appearance.
    std::vector<std::pair<std::string, std::vector<std::string>>> all;
    std::map<std::string, size_t> index;
    for (const ShadowMessage& message : candidates) {
        auto [entry, added] = index.try_emplace(message.guid(), all.size());
        if (added) {
            all.emplace_back(message.guid(), std::vector<std::string>{});
        }
        std::vector<std::string>& chats = all[entry->second].second;
        if (message.chatId() != kNoChatId &&
            std::find(chats.begin(), chats.end(), message.chatId()) == chats.end()) {
            chats.push_back(message.chatId());
        }
    }
    for (auto& [guid, chats] : all) {
        std::sort(chats.begin(), chats.end());
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> toWrite;
    if (!shadow.hasTable("message_chats")) {
        return toWrite;
    }
    std::set<std::string> rewritten;
    for (const ShadowMessage& message : written) {
        rewritten.insert(message.guid());
    }
    // The stored chats of the messages not rewritten.
    std::vector<std::string> toCompare;
    for (const auto& [guid, chats] : all) {
        if (!rewritten.count(guid)) {
            toCompare.push_back(guid);
        }
    }
    const auto stored = shadow.messageTables().chatsOf(toCompare);
    size_t compared = 0;
    for (auto& [guid, chats] : all) {
        if (!rewritten.count(guid) && stored[compared++] == chats) {
            continue;
        }
        toWrite.emplace_back(guid, std::move(chats));
    }
    return toWrite;
}

ShadowDB::PageChanges changesToApply(ShadowDB& shadow, const ShadowDB::PageChanges& changes) {
    // Only the last event for each target, sender and kind counts.
    ShadowDB::PageChanges pending;
    std::map<ShadowReactionsAndAttachments::ReactionKey, size_t> last;
    for (size_t i = 0; i < changes.reactions.size(); ++i) {
        const StoreReaction& reaction = changes.reactions[i];
        last[{reaction.targetGuid, reaction.sender, reaction.kind}] = i;
    }
    std::vector<size_t> order;
    order.reserve(last.size());
    for (const auto& [key, index] : last) {
        order.push_back(index);
    }
    std::sort(order.begin(), order.end());
    std::vector<ShadowReactionsAndAttachments::ReactionKey> keys;
    keys.reserve(order.size());
    for (size_t index : order) {
        const StoreReaction& reaction = changes.reactions[index];
        keys.emplace_back(reaction.targetGuid, reaction.sender, reaction.kind);
    }
    const auto stored = shadow.reactionsAndAttachments().storedReactions(keys);
    for (size_t i = 0; i < order.size(); ++i) {
        const StoreReaction& reaction = changes.reactions[order[i]];
        const auto& present = stored[i];
        const bool differs = reaction.removal ? present && present->second <= reaction.timestamp
                                              : !present || (present->first != reaction.guid &&
                                                             present->second <= reaction.timestamp);
        if (differs) {
            pending.reactions.push_back(reaction);
        }
    }
    const std::vector<bool> messages = shadow.messageTables().stored(changes.notMessages);
    for (size_t i = 0; i < changes.notMessages.size(); ++i) {
        if (messages[i]) {
            pending.notMessages.push_back(changes.notMessages[i]);
        }
    }
    const std::vector<bool> asMessage = shadow.messageTables().stored(changes.removedGuids);
    const std::vector<bool> asReaction =
        shadow.reactionsAndAttachments().mentioned(changes.removedGuids);
    for (size_t i = 0; i < changes.removedGuids.size(); ++i) {
        if (asMessage[i] || asReaction[i]) {
            pending.removedGuids.push_back(changes.removedGuids[i]);
        }
    }
    return pending;
}

} // namespace orlune::core
