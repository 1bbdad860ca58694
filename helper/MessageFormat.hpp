#pragma once
// How the helper names a message to the user: who sent it, in which chat, and
// when.

#include "helper/ShadowTools.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace orlune::helper {

// A messaging-store date (either unit, StoreTime) as a person reads it, in
// the local time zone (TZ honoured): "Tue 9 Dec, 18:40"
// (LocalCalendar::formatForPerson); "an unknown time" for 0.
std::string formatMessageTime(int64_t storeDate);

// The same time as a sentence says it: "on Tue 9 Dec at 18:40" ("at an
// unknown time" for 0).
std::string messageTimeInSentence(int64_t storeDate);

// "You" for the user's own messages, otherwise the sender's name, else the
// sender's handle.
std::string senderLabel(const MessageHit& message);

// What the person calls the chat when known, else the chat's name when it
// has one, otherwise its identifier.
std::string chatLabel(const MessageHit& message);

// `text` cut to at most `maxBytes` bytes on a UTF-8 character boundary, with
// "..." appended when something was cut; line breaks become spaces.
std::string snippet(std::string_view text, size_t maxBytes);

// `text` unchanged when it has at most `maxBytes` bytes, else its snippet().
std::string clipped(std::string_view text, size_t maxBytes);

// What the message carries besides its text, for a person: its reactions
// counted by sign, a sign that is a word after its count ("♥ 2, 😂 1,
// 1 sticker"), then its attachments' kinds ("; photo, pdf"), or "" when it
// has neither.
std::string reactionsAndAttachments(const MessageHit& message);

// One line naming the message: sender in chat, time: "snippet", followed by
// " [reactionsAndAttachments]" when that is not empty; a message of
// attachments alone shows them instead of a quoted text: "Sam, Tue 9 Dec,
// 18:40: [photo IMG_0457.HEIC]". In a chat with one other person their
// messages name only them and yours say "You to <chat>"; a chat named like
// its sender is not named twice.
std::string describeMessage(const MessageHit& message, size_t maxTextBytes = 200);

// The message as a line quotes it: its words in double quotes, cut as
// snippet() does; for a message of attachments alone, shownText() (their
// kinds and names in brackets, no quotes).
std::string quotedText(const MessageHit& message, size_t maxTextBytes = 200);

// What a message shows, cut as snippet() does: its text without the
// attachment placeholders (U+FFFC); for a message of attachments alone,
// their kinds and names in brackets ("[photo IMG_0457.HEIC]"); empty for a
// message with neither.
std::string shownText(const MessageHit& message, size_t maxTextBytes);

} // namespace orlune::helper
