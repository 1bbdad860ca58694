#pragma once
// An interchangeable retrieval engine, as the retrieval benchmark drives it.
// Implementations need not be thread-safe: the benchmark makes one call at a
// time. Every operation may throw the engine's own error type.

#include "records/ShadowMessage.hpp"

#include <string>
#include <vector>

namespace orlune::core {

class SearchBackend {
public:
    virtual ~SearchBackend() = default;

    // A short label of the engine.
    virtual const std::string& name() const = 0;
    // The guids of the best-matching messages, best first, at most `limit`.
    virtual std::vector<std::string> search(const std::string& query, int limit) = 0;
    // Adds messages to what the engine searches.
    virtual void ingest(const std::vector<ShadowMessage>& messages) = 0;
    // Discards everything ingested; the engine is then empty and usable.
    virtual void reset() = 0;
};

} // namespace orlune::core
