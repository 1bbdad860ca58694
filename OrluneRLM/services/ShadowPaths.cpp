#include "services/ShadowPaths.hpp"

#include "base/Environment.hpp"
#include "shadow/ShadowDB.hpp"
#include "services/PrivateFiles.hpp"

namespace orlune::rlm {

std::string ShadowPaths::shadowDBPath() {
    const core::Environment& environment = core::Environment::process();
    if (environment.variable(core::ShadowDB::kPathVariable)) {
        return core::ShadowDB::defaultShadowDBPath(environment);
    }
    // The folders first, so that a folder that cannot be made is reported
    // as the application's own file error.
    const std::string dataFolder = PrivateFiles::dataFolder();
    PrivateFiles::createFolders(core::joinPath(dataFolder, core::ShadowDB::kFolder));
    return core::ShadowDB::defaultShadowDBPath(environment);
}

} // namespace orlune::rlm
