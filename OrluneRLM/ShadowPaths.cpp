#include "OrluneRLM/ShadowPaths.hpp"

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/PrivateFiles.hpp"

namespace orlune::rlm {

std::string ShadowPaths::shadowDBPath() {
    const std::string dataFolder = PrivateFiles::dataFolder();
    PrivateFiles::createFolders(dataFolder);
    const std::string folder = core::joinPath(dataFolder, "OrluneRLM");
    PrivateFiles::createFolders(folder);
    return core::joinPath(folder, "shadow.db");
}

} // namespace orlune::rlm
