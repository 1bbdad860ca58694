#pragma once
// Where the application keeps its shadow database.

#include <string>

namespace orlune::rlm {

class ShadowPaths {
public:
    ShadowPaths() = delete;

    // For the application's sync, the one writer of the application: the
    // one shadow database of the application, the command-line tool and the
    // helper (core::ShadowDB::shadowDBPath), SHADOW_DB_PATH when set, else
    // <data folder>/OrluneRLM/shadow.db, with its folder prepared for
    // writing. For the latter, creates the data folder and the "OrluneRLM"
    // folder when missing (each new folder owner-only, 0700) and moves a
    // database left at the old default <data folder>/Orlune/shadow.db into
    // place when none is there yet (core::ShadowDB::prepareShadowFolder); it
    // neither creates nor opens the database file itself. Throws FileError
    // (noDataFolder, createFolder) when the folder cannot be prepared, and
    // std::runtime_error with the reason when the old database cannot be
    // moved. Whatever only reads uses core::ShadowDB::shadowDBPath.
    static std::string preparedShadowDBPath();
};

} // namespace orlune::rlm
