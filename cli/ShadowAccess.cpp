#include "ShadowAccess.hpp"

#include "OrluneCore/Environment.hpp"

#include <exception>
#include <iostream>
#include <stdexcept>

namespace orlune::cli {

std::unique_ptr<core::ShadowDB> openShadowForReading(const std::optional<std::string>& path) {
    std::string resolved = path ? *path : core::ShadowDB::defaultShadowDBPath();
    if (!core::pathExists(resolved)) {
        throw std::runtime_error("No shadow database at " + resolved +
                                 ". Run `orlune sync` first, or pass --shadow-db PATH.");
    }
    return core::ShadowDB::openReadOnly(resolved);
}

int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDB&)>& body) {
    sqlite3_hard_heap_limit64(core::QueryBounds::kReaderHeapLimit);
    try {
        auto db = openShadowForReading(path);
        return body(*db);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}

} // namespace orlune::cli
