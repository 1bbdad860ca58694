#pragma once
// How the read-only verbs reach the shadow database.

#include "shadow/ShadowDBReader.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orlune::cli {

// The --shadow-db entry of the read verbs' help.
inline constexpr const char* kShadowDBOptionHelp =
    "  --shadow-db PATH  the shadow database (default: $SHADOW_DB_PATH, else\n"
    "                    OrluneRLM/shadow.db in your per-user data folder: the\n"
    "                    one `orlune sync`, `orlune ask` and the app use). It\n"
    "                    is opened read-only.\n";

// The shadow database at `path`, or at the one default
// (core::ShadowDB::shadowDBPath, which creates nothing), opened read-only.
// Throws std::runtime_error saying what to do when nothing is there, and
// core::ShadowDBError when it cannot be opened (not a shadow database, one
// from a newer version, unreadable).
std::unique_ptr<core::ShadowDBReader> openShadowForReading(const std::optional<std::string>& path);

// Opens the shadow database at `path`, or at the one default
// (core::ShadowDB::shadowDBPath, which creates nothing), read-only, and returns what `body`
// returns on it: the verb's exit status. When no database is there, or any
// std::exception is thrown on the way, the reason is written on standard
// error and the status is 1. Caps what SQLite may allocate in this process
// at QueryBounds::kReaderHeapLimit first: the read verbs do nothing else.
int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDBReader&)>& body);

} // namespace orlune::cli
