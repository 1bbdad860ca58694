// ShadowSync::search: a full-text search on the engine's shadow database,
// through a connection of its own.

#include "OrluneCore/ShadowDB.hpp"
#include "OrluneCore/ShadowSync.hpp"

namespace orlune::core {

std::vector<SearchResult> ShadowSync::search(const std::string& query, int limit) const {
    ShadowDB database(shadowDBPath_);
    return database.search(query, limit);
}

} // namespace orlune::core
