#pragma once
// Where the application keeps its shadow database.

#include <string>

namespace orlune::rlm {

class ShadowPaths {
public:
    ShadowPaths() = delete;

    // The one shadow database of the application, the command-line tool and
    // the helper (core::ShadowDB::defaultShadowDBPath): SHADOW_DB_PATH when
    // set, else <data folder>/OrluneRLM/shadow.db. For the latter, creates
    // the data folder and the "OrluneRLM" folder when missing (each new
    // folder owner-only, 0700) and moves a database left at the old default
    // <data folder>/Orlune/shadow.db into place when none is there yet; it
    // neither creates nor opens the database file itself. Throws FileError
    // (noDataFolder, createFolder) when the folder cannot be prepared.
    static std::string shadowDBPath();
};

} // namespace orlune::rlm
