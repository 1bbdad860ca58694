#include "answer/WordNet.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

namespace orlune::core {

namespace {

struct PartOfSpeech {
    const char* name; // the files' suffix: index.<name>, data.<name>, <name>.exc
    // WordNet's detachment rules: an inflected ending and what replaces it.
    std::vector<std::pair<std::string_view, std::string_view>> endings;
};

// The parts of speech looked up: nouns alone. WordNet's verb and adjective
// meanings are broad ("say": "state", "tell"; "deal": "cover", "treat") and
// bring common words that find thousands of messages, slow to rank and
// seldom the answer; the words people use differently are mostly nouns.
const std::array<PartOfSpeech, 1>& partsOfSpeech() {
    static const std::array<PartOfSpeech, 1> parts = {{
        {"noun",
         {{"s", ""},
          {"ses", "s"},
          {"xes", "x"},
          {"zes", "z"},
          {"ches", "ch"},
          {"shes", "sh"},
          {"men", "man"},
          {"ies", "y"}}},
    }};
    return parts;
}

// The data file of a pointer's part-of-speech letter ('s', an adjective
// satellite, lives among the adjectives).
const char* dataSuffix(char letter) {
    switch (letter) {
    case 'n':
        return "noun";
    case 'v':
        return "verb";
    case 'a':
    case 's':
        return "adj";
    case 'r':
        return "adv";
    default:
        return nullptr;
    }
}

// Words longer than this are in no WordNet file; they are not looked up.
constexpr size_t kMaxLookedUpBytes = 64;

// The line of the sorted text `text` whose first field (up to a space) is
// `key`, by binary search over byte offsets; absent when none is.
std::optional<std::string> findLine(std::string_view text, std::string_view key) {
    size_t low = 0; // the start of a line at or before the wanted one
    size_t high = text.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        // The first line starting at or after `middle`.
        size_t lineStart = middle;
        if (middle > 0) {
            const size_t newline = text.find('\n', middle - 1);
            lineStart = newline == std::string_view::npos ? text.size() : newline + 1;
        }
        if (lineStart >= high) {
            high = middle;
            continue;
        }
        const size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        const int order = line.substr(0, line.find(' ')).compare(key);
        if (order == 0) {
            return std::string(line);
        }
        if (order < 0) {
            low = lineEnd + 1;
        } else {
            high = middle;
        }
    }
    return std::nullopt;
}

// The index and exception files of a folder, read once for the process
// (about 6 MB for the whole database): looked up for every word of every
// question, they would otherwise be read again each time.
using SortedFiles = std::map<std::string, std::string>;

const SortedFiles& sortedFiles(const std::filesystem::path& folder) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, std::unique_ptr<const SortedFiles>> byFolder;
    const std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<const SortedFiles>& files = byFolder[folder];
    if (!files) {
        auto read = std::make_unique<SortedFiles>();
        for (const PartOfSpeech& part : partsOfSpeech()) {
            for (const std::string& name :
                 {"index." + std::string(part.name), std::string(part.name) + ".exc"}) {
                std::ifstream in(folder / name, std::ios::binary);
                (*read)[name] = std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        files = std::move(read);
    }
    return *files;
}

// The line at byte `offset` of a data file.
std::optional<std::string> lineAt(std::ifstream& file, int64_t offset) {
    file.clear();
    file.seekg(offset);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return std::nullopt;
    }
    return line;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; in >> field;) {
        out.push_back(field);
    }
    return out;
}

std::optional<int64_t> number(const std::string& text, int base) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, base);
    if (end != text.c_str() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// A word of a data line as a question's word: lower case, without an
// adjective's marker ("(a)"); empty for a phrase or anything but letters.
std::string plainWord(std::string word) {
    if (const size_t marker = word.find('('); marker != std::string::npos) {
        word.resize(marker);
    }
    for (char& c : word) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c < 'a' || c > 'z') {
            return {};
        }
    }
    return word;
}

// One meaning (synset) as its data line gives it.
struct Synset {
    std::vector<std::string> words; // plainWord of each, "" for phrases
    struct Pointer {
        std::string symbol;
        int64_t offset = 0;
        char partOfSpeech = 0;
        size_t source = 0; // the word it leaves from (1-based), 0 for all
        size_t target = 0; // the word it reaches, 0 for all
    };
    std::vector<Pointer> pointers;
};

// "offset lex_filenum ss_type w_cnt word lex_id ... p_cnt [symbol offset pos
// source/target]... | gloss"; absent when the line is not of that form.
std::optional<Synset> parseSynset(const std::string& line) {
    const std::vector<std::string> f = fields(line.substr(0, line.find(" | ")));
    if (f.size() < 4) {
        return std::nullopt;
    }
    const std::optional<int64_t> wordCount = number(f[3], 16);
    if (!wordCount || f.size() < 5 + 2 * static_cast<size_t>(*wordCount)) {
        return std::nullopt;
    }
    Synset synset;
    size_t at = 4;
    for (int64_t i = 0; i < *wordCount; ++i, at += 2) {
        synset.words.push_back(plainWord(f[at]));
    }
    const std::optional<int64_t> pointerCount = number(f[at++], 10);
    if (!pointerCount || f.size() < at + 4 * static_cast<size_t>(*pointerCount)) {
        return std::nullopt;
    }
    for (int64_t i = 0; i < *pointerCount; ++i, at += 4) {
        const std::optional<int64_t> offset = number(f[at + 1], 10);
        const std::optional<int64_t> words = number(f[at + 3], 16);
        if (!offset || !words || f[at + 2].size() != 1) {
            return std::nullopt;
        }
        synset.pointers.push_back({f[at], *offset, f[at + 2][0], static_cast<size_t>(*words >> 8),
                                   static_cast<size_t>(*words & 0xFF)});
    }
    return synset;
}

// A lemma's entry in one part of speech's index.
struct Senses {
    std::string base;             // the lemma
    const char* part = nullptr;   // the part of speech's file suffix
    std::vector<int64_t> offsets; // its meanings' synsets, commonest first
    int64_t tagged = 0;           // how many of them were seen in tagged texts
};

// "lemma pos synset_cnt p_cnt [symbol]... sense_cnt tagsense_cnt offset...";
// no offsets when the line is not of that form.
Senses parseSenses(const std::string& line) {
    Senses senses;
    const std::vector<std::string> f = fields(line);
    if (f.size() < 4) {
        return senses;
    }
    const std::optional<int64_t> synsets = number(f[2], 10);
    const std::optional<int64_t> pointers = number(f[3], 10);
    const size_t first = pointers ? 4 + static_cast<size_t>(*pointers) + 2 : f.size();
    if (!synsets || first > f.size()) {
        return senses;
    }
    senses.tagged = number(f[first - 1], 10).value_or(0);
    for (size_t i = first; i < f.size() && senses.offsets.size() < static_cast<size_t>(*synsets);
         ++i) {
        if (const std::optional<int64_t> offset = number(f[i], 10)) {
            senses.offsets.push_back(*offset);
        }
    }
    return senses;
}

class Reader {
public:
    explicit Reader(const std::filesystem::path& folder)
        : folder_(folder), sorted_(sortedFiles(folder)) {}

    void addRelated(std::string_view word, size_t senses, std::vector<std::string>& out) {
        std::vector<Senses> entries;
        for (const PartOfSpeech& part : partsOfSpeech()) {
            const std::string& index = sorted_.at("index." + std::string(part.name));
            for (const std::string& base : baseForms(word, part)) {
                if (const std::optional<std::string> line = findLine(index, base)) {
                    entries.push_back(parseSenses(*line));
                    entries.back().base = base;
                    entries.back().part = part.name;
                }
            }
        }
        // A base form never seen in tagged texts is left out when another
        // was: the inflected word's rare reading ("glasses", spectacles).
        const bool anyTagged = std::any_of(entries.begin(), entries.end(),
                                           [](const Senses& entry) { return entry.tagged > 0; });
        for (Senses& entry : entries) {
            if (anyTagged && entry.tagged == 0) {
                continue;
            }
            entry.offsets.resize(std::min(entry.offsets.size(), senses));
            for (int64_t offset : entry.offsets) {
                addFromSynset(entry.base, entry.part, offset, out);
            }
        }
    }

private:
    std::ifstream& file(const std::string& name) {
        auto [at, added] = files_.try_emplace(name);
        if (added) {
            at->second.open(folder_ / name, std::ios::binary);
        }
        return at->second;
    }

    // The forms of `word` the part of speech's index may hold: the word, the
    // bases its exceptions list give ("went" -> "go"), else those of the
    // detachment rules.
    std::vector<std::string> baseForms(std::string_view word, const PartOfSpeech& part) {
        std::vector<std::string> bases{std::string(word)};
        if (const auto line = findLine(sorted_.at(std::string(part.name) + ".exc"), word)) {
            const std::vector<std::string> f = fields(*line);
            bases.insert(bases.end(), f.begin() + 1, f.end());
            return bases;
        }
        for (const auto& [ending, replacement] : part.endings) {
            if (word.size() > ending.size() && word.ends_with(ending)) {
                bases.push_back(std::string(word.substr(0, word.size() - ending.size())) +
                                std::string(replacement));
            }
        }
        return bases;
    }

    void addFromSynset(const std::string& base, const char* part, int64_t offset,
                       std::vector<std::string>& out) {
        const std::optional<std::string> line = lineAt(file("data." + std::string(part)), offset);
        const std::optional<Synset> synset = line ? parseSynset(*line) : std::nullopt;
        if (!synset) {
            return;
        }
        const auto own = std::find(synset->words.begin(), synset->words.end(), base);
        const size_t ownNumber =
            own == synset->words.end() ? 0 : static_cast<size_t>(own - synset->words.begin()) + 1;
        // The base form too, when it is not the word asked about ("mouse"
        // for "mice").
        for (const std::string& word : synset->words) {
            add(word, out);
        }
        for (const Synset::Pointer& pointer : synset->pointers) {
            const char* suffix = dataSuffix(pointer.partOfSpeech);
            if (pointer.symbol != "+" || suffix == nullptr || pointer.target == 0 ||
                pointer.source != ownNumber) {
                continue;
            }
            const std::optional<std::string> derived =
                lineAt(file("data." + std::string(suffix)), pointer.offset);
            const std::optional<Synset> target = derived ? parseSynset(*derived) : std::nullopt;
            if (target && pointer.target <= target->words.size()) {
                add(target->words[pointer.target - 1], out);
            }
        }
    }

    static void add(const std::string& word, std::vector<std::string>& out) {
        if (!word.empty() && std::find(out.begin(), out.end(), word) == out.end()) {
            out.push_back(word);
        }
    }

    std::filesystem::path folder_;
    const SortedFiles& sorted_;
    std::map<std::string, std::ifstream> files_; // the data files opened
};

} // namespace

WordNet::WordNet(std::filesystem::path folder) : folder_(std::move(folder)) {}

const WordNet& WordNet::installed() {
    static const WordNet wordnet(findFolder(Environment::process()));
    return wordnet;
}

std::filesystem::path WordNet::findFolder(const Environment& environment) {
    if (const std::optional<std::string> named = environment.variable("WNSEARCHDIR")) {
        return *named;
    }
    for (const char* place :
         {"/usr/share/wordnet", "/opt/homebrew/opt/wordnet/dict", "/usr/local/opt/wordnet/dict"}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(std::filesystem::path(place) / "index.noun", error)) {
            return place;
        }
    }
    return {};
}

std::vector<std::string> WordNet::related(std::string_view word, size_t senses) const {
    std::vector<std::string> out;
    if (folder_.empty() || word.empty() || word.size() > kMaxLookedUpBytes || senses == 0) {
        return out;
    }
    Reader(folder_).addRelated(word, senses, out);
    std::erase(out, std::string(word));
    return out;
}

} // namespace orlune::core
