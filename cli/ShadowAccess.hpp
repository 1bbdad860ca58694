#pragma once
// How the read-only verbs reach the shadow database.

#include "OrluneCore/ShadowDB.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orlune::cli {

// Opens the shadow database at `path`, or where `orlune sync` writes it
// (ShadowDB::defaultShadowDBPath), for reading only: nothing is created or
// written. Throws std::runtime_error naming the path when no database is
// there, or ShadowDB::Error when it cannot be opened.
std::unique_ptr<core::ShadowDB> openShadowForReading(const std::optional<std::string>& path);

// Opens the shadow database as openShadowForReading does and returns what
// `body` returns on it: the verb's exit status. Any std::exception thrown on
// the way is described on standard error, and the status is then 1. Caps
// what SQLite may allocate in this process at QueryBounds::kReaderHeapLimit
// first: the read verbs do nothing else.
int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDB&)>& body);

} // namespace orlune::cli
