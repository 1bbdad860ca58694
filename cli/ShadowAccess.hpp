#pragma once
// How the read-only verbs reach the shadow database.

#include "OrluneCore/ShadowDB.hpp"

#include <memory>
#include <optional>
#include <string>

namespace orlune::cli {

// Opens the shadow database at `path`, or where `orlune sync` writes it
// (ShadowDB::defaultShadowDBPath), for reading only: nothing is created or
// written. Throws std::runtime_error naming the path when no database is
// there, or ShadowDB::Error when it cannot be opened.
std::unique_ptr<core::ShadowDB> openShadowForReading(const std::optional<std::string>& path);

} // namespace orlune::cli
