#include "ShadowAccess.hpp"

#include "base/Environment.hpp"
#include "shadow/ShadowDB.hpp"
#include "sql/StoreConnection.hpp"

#include <exception>
#include <iostream>
#include <stdexcept>

namespace orlune::cli {

std::unique_ptr<core::ShadowDBReader> openShadowForReading(const std::optional<std::string>& path) {
    const std::string resolved = path ? *path : core::ShadowDB::shadowDBPath();
    if (core::pathIsMissing(resolved)) {
        throw std::runtime_error("No shadow database at " + resolved +
                                 ". Run `orlune sync` first, or pass --shadow-db PATH.");
    }
    return std::make_unique<core::ShadowDBReader>(resolved);
}

int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDBReader&)>& body) {
    sqlite3_hard_heap_limit64(core::QueryBounds::kReaderHeapLimit);
    try {
        return body(*openShadowForReading(path));
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}

} // namespace orlune::cli
