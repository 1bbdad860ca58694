#pragma once
// Clean-up of message texts read from the messaging store.

#include <string>
#include <string_view>

namespace orlune::core {

// `text` without the placeholders the store leaves in message texts: U+FFFC
// marks where each attachment sits and U+FFFD where an app message or an
// unreadable byte did. A run of placeholders between two words becomes one
// space, one between white space and a word disappears with no trace, and
// the white space the removal leaves at either end of the text is trimmed.
// A text without placeholders comes back unchanged (its own spaces too); a
// text of placeholders alone gives the empty string. `text` should be
// well-formed UTF-8 (other bytes are kept as they are).
std::string withoutPlaceholders(std::string_view text);

} // namespace orlune::core
