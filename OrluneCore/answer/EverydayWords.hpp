#pragma once
// Everyday words people use for the same thing where WordNet relates none:
// the trade for the place ("mechanic", "garage"), British and American
// words ("lift", "elevator"), short forms ("GP" for a doctor) and irregular
// forms a stemmer cannot reach ("ran" for "run", "mice" for "mouse"). Kept
// by hand and small; a question's word finds them at the weight of its
// related words, below its own.

#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// The everyday words for folded `word`, looked up by its stem (wordStem):
// "mechanics" -> "garage"; "running" -> "ran". Empty for a word the table
// does not hold.
std::vector<std::string> everydayWords(std::string_view word);

} // namespace orlune::core
