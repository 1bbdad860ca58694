#pragma once
// File-system steps shared by the configuration, the sessions store and the
// shadow database's path: the per-user data folder, owner-only folders and
// owner-only atomic writes. Callable from any thread.

#include "services/StructuredLogger.hpp"

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

    // Makes `path` the private folder of Orlune's own files before one is
    // saved there: creates it (and its parents) owner-only when missing. An
    // existing folder must belong to this user; one that other users may
    // read or write is tightened to 0700 and "private_folder_repaired" is
    // logged (warning, with the path and the old mode). A folder of another
    // user, or a symbolic link to a folder that is not this user's or that
    // others may write to, is refused with FileError (createFolder): what is
    // saved there could be read or replaced by others.
    static void preparePrivateFolder(const std::string& path, const StructuredLogger& logger);

    // Replaces `path` with `bytes` in one step (a new temporary file beside
    // it, then renamed over it), so readers see the old or the new file,
    // never a part. Never writes through a symbolic link: a link at `path`
    // (to another file, or dangling) is itself replaced by the file, what it
    // pointed to is left alone, and "private_file_link_replaced" is logged
    // (warning, with the path). The file ends up with mode 0600 whatever it
    // had before. Throws FileError (write); the previous file is then
    // untouched.
    static void writeAtomically(const std::string& path, const std::string& bytes,
                                const StructuredLogger& logger);

    // The whole file. Throws FileError (read).
    static std::string read(const std::string& path);

    // `path` without its last component ("" when it has none).
    static std::string folderOf(const std::string& path);
};

} // namespace orlune::rlm
