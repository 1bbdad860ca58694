#include "answer/EverydayWords.hpp"

#include "answer/QuestionReading.hpp"

#include <map>

namespace orlune::core {

namespace {

struct Entry {
    std::string_view word;
    std::vector<std::string_view> others;
};

// One direction each: a word and what a message may say instead.
const std::vector<Entry>& entries() {
    static const std::vector<Entry> table = {
        {"mechanic", {"garage"}},
        {"vet", {"checkup"}},
        {"doctor", {"gp"}},
        {"gp", {"doctor"}},
        {"dentist", {"teeth", "dental"}},
        {"pharmacy", {"chemist"}},
        {"chemist", {"pharmacy"}},
        {"fridge", {"refrigerator"}},
        {"refrigerator", {"fridge"}},
        {"wedding", {"married"}},
        {"married", {"wedding"}},
        {"run", {"ran"}},
        {"ran", {"run"}},
        {"mouse", {"mice"}},
        {"kid", {"children"}},
        {"lift", {"elevator"}},
        {"elevator", {"lift"}},
        {"rubbish", {"trash", "bin"}},
        {"trash", {"rubbish", "bin"}},
        {"biscuit", {"cookie"}},
        {"cookie", {"biscuit"}},
        {"takeaway", {"takeout"}},
        {"takeout", {"takeaway"}},
        {"pram", {"stroller", "buggy"}},
        {"stroller", {"pram", "buggy"}},
        {"nappy", {"diaper"}},
        {"diaper", {"nappy"}},
    };
    return table;
}

// The table by the stem of each word.
const std::map<std::string, std::vector<std::string>>& byStem() {
    static const std::map<std::string, std::vector<std::string>> stems = [] {
        std::map<std::string, std::vector<std::string>> out;
        for (const Entry& entry : entries()) {
            std::vector<std::string>& others = out[wordStem(entry.word)];
            others.insert(others.end(), entry.others.begin(), entry.others.end());
        }
        return out;
    }();
    return stems;
}

} // namespace

std::vector<std::string> everydayWords(std::string_view word) {
    const auto found = byStem().find(wordStem(word));
    return found == byStem().end() ? std::vector<std::string>{} : found->second;
}

} // namespace orlune::core
