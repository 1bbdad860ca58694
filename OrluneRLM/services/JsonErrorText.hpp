#pragma once
// What a file that is not valid JSON may say about itself in a log line or an
// error text.

#include <nlohmann/json.hpp>
#include <string>

namespace orlune::rlm {

// "not valid JSON (syntax error at byte N)": where the parser stopped and
// nothing of what it read. The parser's own message quotes the text around
// the error ("last read: ..."), which for the configuration is the API key
// and for the sessions file the person's messages, so it is never shown.
std::string describeJsonParseError(const nlohmann::json::parse_error& error);

} // namespace orlune::rlm
