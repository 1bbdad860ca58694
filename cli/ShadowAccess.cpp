#include "ShadowAccess.hpp"

#include "OrluneCore/Environment.hpp"

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

} // namespace orlune::cli
