#pragma once
// File-system steps shared by the configuration, the sessions store and the
// shadow database's path: the per-user data folder, owner-only folders and
// owner-only atomic writes. Callable from any thread.

#include <string>

namespace orlune::rlm {

class PrivateFiles {
public:
    // The per-user data folder (core::Environment::applicationSupportDirectory:
    // $ORLUNE_DATA_DIR, else on Linux $XDG_DATA_HOME or ~/.local/share, on
    // macOS ~/Library/Application Support), read afresh on every call.
    // Creates nothing. Throws FileError (noDataFolder) when none is known.
    static std::string dataFolder();

    // Creates `path` and every missing parent folder, each new one with mode
    // 0700 (owner only). Existing folders are left as they are. Succeeds when
    // the folder already exists; throws FileError (createFolder) otherwise.
    static void createFolders(const std::string& path);

    // Replaces `path` with `bytes` in one step (temporary file beside it, then
    // renamed over it), so readers see the old or the new file, never a part.
    // The file ends up with mode 0600 whatever it had before. Throws
    // FileError (write); the previous file is then untouched.
    static void writeAtomically(const std::string& path, const std::string& bytes);

    // The whole file. Throws FileError (read).
    static std::string read(const std::string& path);

    // `path` without its last component ("" when it has none).
    static std::string folderOf(const std::string& path);
};

} // namespace orlune::rlm
