#pragma once
// The full-text search engine of the retrieval benchmark: a shadow database
// file of its own, filled through the batch insert and searched with
// ShadowDB::search.

#include "benchmark/SearchBackend.hpp"
#include "shadow/ShadowDB.hpp"

#include <memory>
#include <optional>
#include <string>

namespace orlune::core {

// Holds an open database from construction on. Destruction closes it but
// leaves the file (and a temporary-directory engine's "bench-shadow-" file)
// on disk; only reset() removes and recreates it. Calls must not overlap an
// ingest or a reset; every ShadowDB::Error passes through unchanged.
class FTS5SearchBackend : public SearchBackend {
public:
    // Opens (creating when missing) the database at `databasePath`, used as
    // given, or, when absent, at "bench-shadow-<UUID>.db" in the system's
    // temporary folder; then ensures the schema. Throws ShadowDB::Error.
    explicit FTS5SearchBackend(const std::optional<std::string>& databasePath);

    const std::string& name() const override { return name_; }
    // The guids of ShadowDB::search(query, limit), in rank order.
    std::vector<std::string> search(const std::string& query, int limit) override;
    // Inserts or replaces (by guid) in one transaction.
    void ingest(const std::vector<ShadowMessage>& messages) override;
    // Closes the database, deletes the file and its -wal and -shm companions
    // (ignoring failures), reopens it and makes the schema. If reopening
    // fails, the engine keeps its closed database and fails until a reset
    // succeeds.
    void reset() override;

    const std::string& databasePath() const { return databasePath_; }

private:
    const std::string name_ = "FTS5";
    std::unique_ptr<ShadowDB> shadowDB_;
    const std::string databasePath_;
};

} // namespace orlune::core
