#pragma once
// The longest question Orlune answers. Everything that takes a question (the
// app's chat, `orlune ask`, the helper) refuses a longer one before any work,
// with the same plain message, so that no question can keep the reader, the
// model or the person waiting.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::core {

// In characters (code points) of the trimmed question.
inline constexpr size_t kMaxQuestionCharacters = 4000;

// Absent when `question` is within kMaxQuestionCharacters; otherwise what to
// tell the person: "This question is 12,345 characters long; ask it in at
// most 4,000 characters."
std::optional<std::string> questionLengthProblem(std::string_view question);

} // namespace orlune::core
