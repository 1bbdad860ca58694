#include "services/ShadowPaths.hpp"

#include "base/Environment.hpp"
#include "services/PrivateFiles.hpp"
#include "shadow/ShadowDB.hpp"

#include <stdexcept>

namespace orlune::rlm {

std::string ShadowPaths::preparedShadowDBPath() {
    const core::Environment& environment = core::Environment::process();
    if (!environment.variable(core::ShadowDB::kPathVariable)) {
        // The folders first, so that a folder that cannot be made is
        // reported as the application's own file error.
        const std::string dataFolder = PrivateFiles::dataFolder();
        PrivateFiles::createFolders(core::joinPath(dataFolder, core::ShadowDB::kFolder));
        if (auto problem = core::ShadowDB::prepareShadowFolder(environment)) {
            throw std::runtime_error(*problem);
        }
    }
    return core::ShadowDB::shadowDBPath(environment);
}

} // namespace orlune::rlm
