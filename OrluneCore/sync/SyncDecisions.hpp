#pragma once
// What a sync pass writes of the rows it reads again: only what differs from
// the stored copy. Pure decisions over reads of the shadow database.

#include "records/ShadowMessage.hpp"
#include "shadow/ShadowDB.hpp"

#include <string>
#include <utility>
#include <vector>

namespace orlune::core {

// Of `candidates` (rows read from the store, several per guid for a message
// in several chats, the most recent chat last), the ones to write so that the
// stored copy of each guid matches the store: none when the stored row has
// the chat of one of the guid's rows and that row's name, sender, text, time,
// flags, attachment kinds and edit time; otherwise that row when its chat
// matches, else the guid's last row. Order of first appearance. Throws
// ShadowDBError (prepareFailed or queryFailed).
std::vector<ShadowMessage> messagesToWrite(ShadowDB& shadow,
                                           const std::vector<ShadowMessage>& candidates);

// Every chat of each message of `candidates` (rows read from the store, one
// per chat of a message), for the messages whose stored chats
// (message_chats) differ and for every message of `written` (writing a
// message clears its chats). A message in no chat has none. None at all on a
// database without message_chats. Throws ShadowDBError.
std::vector<std::pair<std::string, std::vector<std::string>>>
membershipsToWrite(ShadowDB& shadow, const std::vector<ShadowMessage>& candidates,
                   const std::vector<ShadowMessage>& written);

// Of `changes`, what would change the stored copy: of the reactions, the last
// event for each target, sender and kind, when it is an addition not stored
// yet (by guid) and not older than the stored one, or a removal with a stored
// reaction no newer to take back; the not-messages that are stored messages;
// the removed guids that are stored (messages, or reactions by their own guid
// or target). Memberships are left out. Throws ShadowDBError.
ShadowDB::PageChanges changesToApply(ShadowDB& shadow, const ShadowDB::PageChanges& changes);

} // namespace orlune::core
