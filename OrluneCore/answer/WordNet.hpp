#pragma once
// The words WordNet relates to an English noun: the other words of its
// commonest meanings ("movie" -> "film", "flick") and the words derived from
// it ("repair" -> "repairman"). Read from WordNet's database files
// (index.noun, noun.exc, and data.noun, data.verb, data.adj, data.adv: the
// layout of WordNet 3.0 and 3.1, which Debian's wordnet-base puts in
// /usr/share/wordnet and Homebrew's wordnet in its prefix's opt/wordnet/dict).
// The noun index and exceptions (5 MB) are read once per folder and kept for
// the process; each look-up reads the few data lines it needs from disk.

#include "base/Environment.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

class WordNet {
public:
    // The database in `folder`. A folder without the files, or with files
    // that are not WordNet's, gives no related words; it is never an error.
    explicit WordNet(std::filesystem::path folder);

    // The database of this system, found once: the folder named by the
    // variable WNSEARCHDIR (as WordNet's own tools read it) when set, else
    // the first of the usual places that holds index.noun. Without one, an
    // empty database. Lives for the whole program; any thread.
    static const WordNet& installed();

    // Where `environment` says the database is, as `installed` finds it;
    // empty when no place holds one.
    static std::filesystem::path findFolder(const Environment& environment);

    // The words related to folded `word` as a noun, each once, without `word`
    // itself: under each base form it has ("brakes" -> "brake", "mice" ->
    // "mouse"; one never seen in tagged texts only when none was), the
    // one-word members of its `senses` commonest meanings, then the words
    // derived from it in them (of any part of speech). Lower case, letters
    // only; empty when the database lacks the word or is absent.
    std::vector<std::string> related(std::string_view word, size_t senses = 1) const;

private:
    std::filesystem::path folder_;
};

} // namespace orlune::core
