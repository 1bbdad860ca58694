#pragma once
// Test support: looking at a database file through a connection of its own,
// independent of the component under test, and a scripted environment.

#include "base/Environment.hpp"
#include "records/MessageScope.hpp"
#include "sql/SQLite.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orlune::testing {

// A second connection to a database file (read-write, never creating it).
// With WAL it sees what other connections have committed at any time.
// Every failure throws (core::sqlite::Error, or std::runtime_error when the
// file cannot be opened) with SQLite's message.
class DatabaseProbe {
public:
    explicit DatabaseProbe(const std::string& path);

    // Every row of `sql`, each column as text ("NULL" for SQL NULL).
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    // The first column of the first row, or "<no row>".
    std::string value(const std::string& sql);
    void exec(const std::string& sql);
    // FTS5's consistency check of `messages_fts` against its content table:
    // "ok", or SQLite's error text.
    std::string ftsIntegrity();
    // The pages of the table or index `btree` that hold its rows (leaf
    // pages), in file order.
    std::vector<int64_t> leafPages(const std::string& btree);

private:
    core::sqlite::Connection db_;
};

// Overwrites page `page` (from 1) of the database file at `path` with bytes
// no SQLite page can hold, as a damaged disk would. The file must be
// complete (no connection open, the WAL folded in).
void damagePage(const std::string& path, int64_t page);

// An environment whose variables, home and data folder the test sets.
class FakeEnvironment : public core::Environment {
public:
    std::map<std::string, std::string> variables;
    std::string home = "/nonexistent-home";
    std::string dataFolder;

    std::optional<std::string> variable(const std::string& name) const override;
    std::string homeDirectory() const override { return home; }
    std::string applicationSupportDirectory() const override { return dataFolder; }
};

// The guids of what a search for `query` within `scope` finds in the shadow
// database at `path` (at most 50), sorted.
std::vector<std::string> sortedFoundGuids(const std::string& path, const std::string& query,
                                          const core::MessageScope& scope);

} // namespace orlune::testing
