#pragma once
// The heading under which an answer written by a model lists the messages it
// relies on, at the end of its text. The helper writes it (so that plain
// text, as `orlune ask` prints it, names the messages); the app, which shows
// the same messages under the answer, leaves that part of the text out.

#include <string_view>

namespace orlune::core {

inline constexpr std::string_view kCitedMessagesHeading = "Messages this answer relies on:";

} // namespace orlune::core
