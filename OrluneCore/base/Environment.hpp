#pragma once
// The process facts that default paths depend on, read through one seam so
// that tests can point them at temporary folders.

#include <optional>
#include <string>
#include <system_error>

namespace orlune::core {

class Environment {
public:
    virtual ~Environment() = default;

    // The value of `name` exactly as set (an empty value included), or absent.
    virtual std::optional<std::string> variable(const std::string& name) const = 0;
    // The home folder of the user running the process.
    virtual std::string homeDirectory() const = 0;
    // The per-user data folder under which every Orlune file lives:
    // $ORLUNE_DATA_DIR when set to an absolute path (tests and scripts use it
    // so that nothing touches the person's real folders, on every system);
    // otherwise ~/Library/Application Support on macOS, $XDG_DATA_HOME (when
    // set to an absolute path) or ~/.local/share elsewhere.
    virtual std::string applicationSupportDirectory() const = 0;

    // The variable that overrides the data folder.
    static constexpr const char* kDataFolderOverride = "ORLUNE_DATA_DIR";

    // The real process environment. Lives for the whole program.
    static const Environment& process();
};

// Joins two path pieces with exactly one '/'.
std::string joinPath(const std::string& base, const std::string& relative);

// True when any file-system entry (file, folder, link target) exists at `path`.
bool pathExists(const std::string& path);

// True when nothing is at `path` (stat fails with ENOENT or ENOTDIR). Unlike
// !pathExists, false when the system refuses to say (EPERM, EACCES: on macOS,
// files under ~/Library/Messages for a program without Full Disk Access), so
// that such a path is reported as refused rather than as missing.
bool pathIsMissing(const std::string& path);

// Creates the folder `path` and every missing parent, each new one with mode
// 0700 (owner only); existing folders are left as they are. Returns the
// system's error (ENOTDIR when a file is in the way), or no error when the
// folder exists afterwards.
std::error_code createPrivateFolders(const std::string& path);

} // namespace orlune::core
