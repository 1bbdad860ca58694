#pragma once
// Answers a question from the full-text index alone, for when no model can be
// used: the question's words become an FTS5 query and the best-matching
// messages are listed with sender, chat and time.

#include "helper/ShadowTools.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::helper {

// The question's words worth searching for: letters and digits split at
// everything else, lower-cased, common English words and single letters
// dropped, and so are words longer than 64 bytes, each word once, in order of
// first appearance, at most 16.
std::vector<std::string> questionWords(std::string_view question);

// The words as a safe FTS5 MATCH expression: each one a double-quoted string
// (quotes inside doubled), joined by " OR ". Empty for no words.
std::string matchExpression(const std::vector<std::string>& words);

// The line that states the answer when one message plainly holds it,
// quoting that message (the first hit):
//   - a question of when someone last or first wrote: "Omar last wrote on
//     Wed 2 Dec at 19:40: "see you then"";
//   - a question that asks for a kind of thing (a number or code, an amount,
//     a time, a place, a link) when the first hit holds one and the second
//     holds none or the same: "KL 612 (Ana, Tue 8 Dec, 18:40): "it's the KL
//     612"".
// Absent otherwise, and for hits from a widened search.
std::optional<std::string> statedAnswer(const AnswerHits& found);

// The answer text. `reason` says why no model was used (e.g. "no API key is
// configured") and is shown to the user. Its first line after that states
// the answer when statedAnswer() can. Lists at most `limit` messages; when
// `cited` is given, it receives them in the answer's order. Throws
// core::ShadowDBError when the index cannot be read.
std::string answerFromIndex(ShadowTools& tools, std::string_view question,
                            const std::string& reason, int limit = 8,
                            std::vector<MessageHit>* cited = nullptr);

} // namespace orlune::helper
