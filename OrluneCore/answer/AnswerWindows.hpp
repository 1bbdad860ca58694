#pragma once
// Reading a found message as part of its conversation: what a message holds
// (the kind of thing a question asks for, or only an acknowledgement), and
// which of the messages right after a hit answer the question instead of
// the hit itself (the reply to a question of mine, the message that holds
// the train number after "my train gets in at 6"). Pure; AnswerFinder reads
// the messages.

#include "answer/QuestionReading.hpp"
#include "records/SearchResult.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// Whether `text` holds a thing of `kind`: a number or code ("KL 612",
// "4821", "B7"), an amount ("£40", "$12.50", "40 quid"), a time or date
// ("6pm", "18:30", "at noon", "Tuesday", "March", "tomorrow"), a place ("at
// the Crown", "14 Mill Road", "meet at Kings Cross"), a link
// ("https://...", "www...", "festival.example.com/..."). Always true for
// AskedFor::anything.
bool holdsAskedFor(std::string_view text, AskedFor kind);

// Whether `text` says nothing but an acknowledgement or a laugh ("ok",
// "lol", "haha yes", "👍", "sounds good"); an empty text is not one.
bool isAcknowledgement(std::string_view text);

// How far after a hit its window reaches, in messages and in time.
inline constexpr int kWindowMessages = 6;
inline constexpr int64_t kWindowSeconds = 6 * 3600;

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

} // namespace orlune::core
