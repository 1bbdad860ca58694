#pragma once
// How the tools show one message, and the times they give: every message
// as one JSON object of plain fields, never as a line of text, so that what
// a message says stays a value of its "text" field.

#include "mcp/McpTools.hpp"
#include "records/SearchResult.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "time/LocalTime.hpp"

namespace orlune::mcp {

// Puts the store date `storeDate` under `key` as a person reads it in the
// local zone ("Tue 9 Dec, 18:40") and under `key` + "_iso" as ISO 8601 local
// time with its offset ("2025-12-09T18:40:00+01:00"); both null for an
// unknown time (0).
void putTime(OrderedJson& item, const std::string& key, int64_t storeDate,
             const core::LocalCalendar& calendar);

// Who sent `message`: "You", the sender's name (looked up in `db` when the
// message was read without it), else their handle.
std::string senderLabel(core::ShadowDBReader& db, const core::SearchResult& message);

// One message: guid, chat_id, chat (its title), from ("You", the sender's
// name, else their handle), from_handle (null for your own), is_from_me,
// time and time_iso, text (left out under Privacy::metadataOnly),
// attachments (the kinds of the visible ones) and reactions (kind, emoji,
// by), the last two read from `db`.
OrderedJson messageItem(core::ShadowDBReader& db, const core::SearchResult& message,
                        const core::LocalCalendar& calendar, Privacy privacy);

} // namespace orlune::mcp
