#pragma once
// Trimming of user and helper text before it is judged empty or stored.

#include <string>

namespace orlune::rlm {

// `text` (UTF-8) without white space and line breaks at either end: the
// Unicode separators (spaces, U+2028, U+2029, ...) and the controls U+0009 to
// U+000D and U+0085. Ill-formed UTF-8 comes back with U+FFFD in its place.
std::string trimmedText(const std::string& text);

} // namespace orlune::rlm
