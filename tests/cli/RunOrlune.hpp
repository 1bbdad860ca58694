#pragma once
// Runs the built `orlune` binary for the command-line tests (which define
// ORLUNE_CLI_PATH).

#include "tests/support/ProcessRun.hpp"
#include "tests/support/TempDir.hpp"

namespace orlune::testing {

// Runs orlune with `args`, HOME and the data folder inside `dir`, neither
// CHAT_DB_PATH nor SHADOW_DB_PATH set, and the given extra environment
// variables (nullopt removes one), in `workDir` (this process's folder when
// empty). Standard input is /dev/null; standard output and error are files,
// so not terminals.
inline ProcessResult runOrlune(const TempDir& dir, const std::vector<std::string>& args,
                               const std::map<std::string, std::optional<std::string>>& extra = {},
                               const std::string& workDir = {}) {
    std::map<std::string, std::optional<std::string>> changes = {
        {"HOME", dir.path().string()},         {"XDG_DATA_HOME", dir.file("data")},
        {"ORLUNE_DATA_DIR", dir.file("data")}, {"CHAT_DB_PATH", std::nullopt},
        {"SHADOW_DB_PATH", std::nullopt},
    };
    for (const auto& [name, value] : extra) {
        changes[name] = value;
    }
    return runProcess(ORLUNE_CLI_PATH, args, environmentWith(changes), std::nullopt, workDir);
}

} // namespace orlune::testing
