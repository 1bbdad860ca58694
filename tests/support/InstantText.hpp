#pragma once
// Test support: instants written as ISO 8601 text with their UTC offset, so
// that expected times state the offset they were worked out in
// ("2024-03-31T00:00+00:00" beside "2024-04-01T00:00+01:00").

#include "time/LocalTime.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace orlune::testing {

// "YYYY-MM-DDTHH:MM[:SS]" followed by "Z" or "+HH:MM"/"-HH:MM". Throws
// std::invalid_argument for anything else.
core::Instant instantAt(std::string_view text);

// The instant in UTC, "YYYY-MM-DDTHH:MM:SS.ffffffZ", for failure messages.
std::string utcText(core::Instant instant);
std::string utcText(const std::optional<core::Instant>& instant);

} // namespace orlune::testing
