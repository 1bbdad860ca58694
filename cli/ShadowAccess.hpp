#pragma once
// How the read-only verbs reach the shadow database.

#include "shadow/ShadowDBReader.hpp"

#include <functional>
#include <optional>
#include <string>

namespace orlune::cli {

// Opens the shadow database at `path`, or at the one default
// (core::ShadowDB::shadowDBPath, which creates nothing), read-only, and returns what `body`
// returns on it: the verb's exit status. When no database is there, or any
// std::exception is thrown on the way, the reason is written on standard
// error and the status is 1. Caps what SQLite may allocate in this process
// at QueryBounds::kReaderHeapLimit first: the read verbs do nothing else.
int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDBReader&)>& body);

} // namespace orlune::cli
