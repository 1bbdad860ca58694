#include "ShadowAccess.hpp"

#include "base/Environment.hpp"
#include "shadow/ShadowDB.hpp"
#include "sql/StoreConnection.hpp"

#include <exception>
#include <iostream>

namespace orlune::cli {

int withShadowForReading(const std::optional<std::string>& path,
                         const std::function<int(core::ShadowDBReader&)>& body) {
    sqlite3_hard_heap_limit64(core::QueryBounds::kReaderHeapLimit);
    try {
        const std::string resolved = path ? *path : core::ShadowDB::shadowDBPath();
        if (core::pathIsMissing(resolved)) {
            std::cerr << "No shadow database at " << resolved
                      << ". Run `orlune sync` first, or pass --shadow-db PATH.\n";
            return 1;
        }
        core::ShadowDBReader db(resolved);
        return body(db);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}

} // namespace orlune::cli
