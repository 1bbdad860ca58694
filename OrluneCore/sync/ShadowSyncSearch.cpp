// ShadowSync::search: a full-text search on the engine's shadow database,
// through a connection of its own.

#include "shadow/ShadowDBReader.hpp"
#include "sync/ShadowSync.hpp"

namespace orlune::core {

std::vector<SearchResult> ShadowSync::search(const std::string& query, int limit) const {
    return ShadowDBReader(shadowDBPath_).search(query, limit);
}

} // namespace orlune::core
