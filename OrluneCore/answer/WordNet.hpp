#pragma once
// The words WordNet relates to an English word: the other words of its
// commonest meanings ("movie" -> "film", "flick") and the words derived from
// it ("repair" -> "repairman"). Read from WordNet's database files
// (index.noun, data.noun, noun.exc and the same for verb, adj and adv: the
// layout of WordNet 3.0 and 3.1, which Debian's wordnet-base puts in
// /usr/share/wordnet and Homebrew's wordnet in its prefix's opt/wordnet/dict).
// The index and exception files (6 MB) are read once per folder and kept for
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

    // The words related to folded `word`, each once, without `word` itself:
    // for each part of speech it has (noun, verb, adjective, adverb; one never
    // seen in tagged texts only when none was), under its base form ("brakes"
    // -> "brake", "mice" -> "mouse"), the one-word members of its `senses`
    // commonest meanings, then the words derived from it in them. Lower case,
    // letters only; empty when the database lacks the word or is absent.
    std::vector<std::string> related(std::string_view word, size_t senses = 1) const;

private:
    std::filesystem::path folder_;
};

} // namespace orlune::core
