#pragma once
// Reading a found message as part of its conversation: what a message holds
// (the kind of thing a question asks for, or only an acknowledgement), and
// which of the messages right after a hit or in its thread answer the
// question instead of the hit itself (the reply to a question of mine, the
// message that holds the train number after "my train gets in at 6"). Pure;
// AnswerFinder reads the messages.

#include "answer/QuestionReading.hpp"
#include "records/SearchResult.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// Whether `text` holds a thing of `kind`: a number or code ("KL 612",
// "4821", "B7"), an amount ("£40", "$12.50", "145€", "40 quid", "1150 a
// month"), a time or date
// ("6pm", "18:30", "at noon", "Tuesday", "March", "tomorrow"), a place ("at
// the Crown", "14 Mill Road", "meet at Kings Cross"), a link
// ("https://...", "www...", "festival.example.com/..."). Always true for
// AskedFor::anything.
bool holdsAskedFor(std::string_view text, AskedFor kind);

// The first thing of `kind` that `text` holds, as written there: "KL 612",
// "B7", "£40", "12.50", "6:30pm", "Saturday", "14 Mill Road", "the Crown",
// "https://example.org/fest". Absent when it holds none, and for
// AskedFor::anything.
std::optional<std::string> askedForIn(std::string_view text, AskedFor kind);

// Whether `text` says nothing but an acknowledgement or a laugh ("ok",
// "lol", "haha yes", "👍", "sounds good"); an empty text is not one.
bool isAcknowledgement(std::string_view text);

// How far after a hit its window reaches, in messages and in time.
inline constexpr int kWindowMessages = 6;
// A reply may come the next day ("the technician says it was the valve").
inline constexpr int64_t kWindowSeconds = 30 * 3600;

// How many of `after` (the messages just after `hit` in its chat, oldest
// first) lie in its window: the first ones in its chat, at most
// kWindowMessages, none more than kWindowSeconds after it. Store dates of
// either unit.
size_t windowLength(const SearchResult& hit, const std::vector<SearchResult>& after);

// What the question wants from a hit's window.
struct WindowWants {
    // The question is about what you wrote: a reply of yours to their
    // message answers it; otherwise a reply to yours from the people named
    // does (none when no one is named: the hits that hold the words answer).
    bool byMe = false;
    std::vector<std::string> people; // handles
    AskedFor askedFor = AskedFor::anything;
};

// A message of a window that answers, and how its score compares with the
// hit's (above 1: it ranks above the hit).
struct WindowPick {
    SearchResult message;
    double factor = 1;
};

// Kept above the hit; acknowledgements of a reply stay well below it.
inline constexpr double kAnswerInWindow = 1.05;
inline constexpr double kMoreOfTheReply = 0.9;
inline constexpr double kAcknowledgingReply = 0.5;

// The messages of `after` (those just after `hit` in its chat, oldest
// first) that answer: the first run of replies from the other side when
// that side is the one asked about (its first message that says something
// at kAnswerInWindow, the rest of the run at kMoreOfTheReply, mere
// acknowledgements at kAcknowledgingReply), and, when the question asks for
// a kind of thing the hit does not hold, the first message of the window
// from the side asked about (either side when no one is named and the
// question is not about what you wrote) that holds one (at
// kAnswerInWindow). Messages
// more than kWindowSeconds after the hit, or past kWindowMessages, are left
// out. Store dates of either unit.
std::vector<WindowPick> pickFromWindow(const SearchResult& hit,
                                       const std::vector<SearchResult>& after,
                                       const WindowWants& wants);

// How many messages of a hit's thread are read with it.
inline constexpr int kThreadMessages = 12;
// A reply made in the hit's thread says itself what it answers: it ranks
// above a reply that only follows the hit.
inline constexpr double kAnswerInThread = 1.1;

// The messages of `thread` (the hit's thread without the hit, oldest first:
// the thread's first message and the replies to it) that answer: when a
// reply is wanted (as in pickFromWindow), the replies from the other side
// made after the hit by the side asked about (the first that says something
// at kAnswerInThread, the others at kMoreOfTheReply, acknowledgements at
// kAcknowledgingReply); and, when the question asks for a kind of thing the
// hit does not hold, the first message of the thread from the side asked
// about (either side when no one is named and the question is not about
// what you wrote) that holds one, at kAnswerInWindow or above. No bound of
// time or count: a thread is one exchange however long it took, and it may
// run across other talk in the chat.
std::vector<WindowPick> pickFromThread(const SearchResult& hit,
                                       const std::vector<SearchResult>& thread,
                                       const WindowWants& wants);

} // namespace orlune::core
