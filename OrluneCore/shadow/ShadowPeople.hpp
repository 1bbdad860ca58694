#pragma once
// What the shadow database's people, person_handles and chats tables hold
// (ShadowSchema, version 3), built from what a sync pass read: the people
// the matcher found, the store's chats and their members.

#include "contacts/PeopleMatcher.hpp"
#include "contacts/StoreDirectory.hpp"
#include "records/ChatParticipant.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orlune::core {

// One row of `chats`.
struct ChatTitleRow {
    std::string chatId;
    std::optional<std::string> displayName;
    bool isGroup = false;
    std::string title;

    friend bool operator==(const ChatTitleRow&, const ChatTitleRow&) = default;
};

// Every row of the three tables.
struct PeopleTables {
    People people;
    // Each handle text once, with the index of its person in people.people:
    // the first link of that text (handles of one address under two services
    // share the text).
    std::vector<std::pair<std::string, size_t>> handles;
    std::vector<ChatTitleRow> chats;
};

// What a person calls a chat: its display name; else, for a one-to-one chat,
// the other person's name, or their handle when they have no card; else the
// members' names ("Alex", "Alex and Jess", "Alex, Jess and Sam", "Alex, Jess
// and 2 others"), people by first name, others by handle. A chat with nothing
// to name it by is its `chatId` (for a one-to-one chat, the address at the
// end of the id: "iMessage;-;+15550100001" gives "+15550100001").
// `memberNames` in the order to show them, each once.
std::string chatTitle(const std::string& chatId, const std::optional<std::string>& displayName,
                      bool isGroup, const std::vector<std::string>& memberNames);

// Builds the tables' rows. `participants` ordered by chat then handle ROWID
// (as ChatDBReader::fetchChatParticipants gives them). Pure.
PeopleTables buildPeopleTables(People people, const std::vector<StoreChat>& chats,
                               const std::vector<ChatParticipant>& participants);

// A digest of everything a refresh reads: each contact source file's path,
// size and modification time (and those of its -wal file), the handles, the
// chats, the members and the phone region. Equal digests mean the tables
// would come out the same. Files that do not exist count as such.
std::string peopleFingerprint(const std::vector<std::string>& sourceFiles,
                              const std::vector<HandleRecord>& handles,
                              const std::vector<StoreChat>& chats,
                              const std::vector<ChatParticipant>& participants,
                              const std::string& region);

} // namespace orlune::core
