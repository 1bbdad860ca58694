#pragma once
// Recognising reactions among the rows of the messaging store's `message`
// table: tapbacks and their removals, stickers placed on a message, poll
// votes, and the plain-text form in which phones without tapbacks send them
// by SMS. Pure functions on the values of one row; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::core {

enum class ReactionKind {
    Love,
    Like,
    Dislike,
    Laugh,
    Emphasize,
    Question,
    Emoji,   // a custom emoji, in the row's associated_message_emoji
    Sticker, // a sticker placed on a message or used as a tapback
    PollVote,
};

// The kind's name in documents and answers: "love", "like", "dislike",
// "laugh", "emphasize", "question", "emoji", "sticker", "poll_vote".
std::string_view reactionKindName(ReactionKind kind);

struct ReactionType {
    ReactionKind kind;
    bool removal = false; // takes back the sender's earlier reaction of this kind

    bool operator==(const ReactionType&) const = default;
};

// The reaction a row with this associated_message_type carries: 2000-2007 a
// tapback (love, like, dislike, laugh, emphasize, question, emoji, sticker),
// 3000-3007 the removal of the same, 1000 a sticker placed on a message, 4000
// a poll vote. Absent for 0 (an ordinary message) and for every other value,
// which is left to be read as a message.
std::optional<ReactionType> reactionTypeFromAssociatedType(int64_t associatedMessageType);

// What a reaction points at, from its associated_message_guid.
struct ReactionTarget {
    std::string guid;            // the target message's guid
    std::optional<int64_t> part; // "p:N/": part N of the message
    bool balloon = false;        // "bp:": the message's link preview or app balloon

    bool operator==(const ReactionTarget&) const = default;
};

// Reads `p:N/GUID`, `bp:GUID` or a bare `GUID`; the guid is the 36
// characters after the prefix (anything after them is ignored). Absent when
// fewer than 36 characters follow the prefix or N is not a number.
std::optional<ReactionTarget> reactionTargetFromAssociatedGuid(std::string_view associatedGuid);

// The plain-text form of a reaction: `Loved “…”`, `Liked "…"`,
// `Disliked “…”`, `Laughed at “…”`, `Emphasized “…”`, `Questioned “…”`.
struct TextReaction {
    ReactionKind kind;
    std::string quoted; // the text between the quotes, as written

    bool operator==(const TextReaction&) const = default;
};

// `text` read as a plain-text reaction: one of the six verbs, one space, then
// the whole rest of the text in double quotes (“…”, "…", or a mix of the
// two), with nothing but white space after the closing quote and something
// other than white space inside. Absent otherwise. The form alone does not
// make a reaction (a person may write `Liked "the movie"`): confirm it with
// reactionQuoteMatches against an earlier message of the same chat.
std::optional<TextReaction> parseReactionText(std::string_view text);

// True when `quoted` (from parseReactionText) reproduces `targetText`: the
// two are equal once attachment placeholders are removed, runs of white space
// are made single spaces and both are trimmed; or `quoted` ends in an
// ellipsis ("…" or "...") and what comes before it, at least one word, begins
// `targetText` (phones shorten long quotes).
bool reactionQuoteMatches(std::string_view quoted, std::string_view targetText);

} // namespace orlune::core
