#pragma once
// Where the application keeps its shadow database.

#include <string>

namespace orlune::rlm {

class ShadowPaths {
public:
    ShadowPaths() = delete;

    // <data folder>/OrluneRLM/shadow.db. Creates the data folder and the
    // "OrluneRLM" folder when missing (each new folder owner-only, 0700) but
    // neither creates nor examines the database file. No variable or setting
    // overrides it. Throws FileError when a folder cannot be prepared.
    static std::string shadowDBPath();
};

} // namespace orlune::rlm
