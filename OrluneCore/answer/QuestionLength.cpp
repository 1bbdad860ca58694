#include "answer/QuestionLength.hpp"

#include "base/AsciiText.hpp"
#include "base/Utf8.hpp"

namespace orlune::core {

std::optional<std::string> questionLengthProblem(std::string_view question) {
    if (question.size() <= kMaxQuestionCharacters) {
        return std::nullopt;
    }
    const size_t characters = utf8::codePointCount(question);
    if (characters <= kMaxQuestionCharacters) {
        return std::nullopt;
    }
    return "This question is " + ascii::groupedDigits(characters) +
           " characters long; ask it in at most " + ascii::groupedDigits(kMaxQuestionCharacters) +
           " characters.";
}

} // namespace orlune::core
