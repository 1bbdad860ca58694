// libFuzzer target: the read-only query surface of the shadow database on
// arbitrary SQL text and table names, and full-text search on arbitrary MATCH
// expressions, run on the read-write connection that ShadowDB keeps. Whatever
// the text, it must fail cleanly or read within its bounds (no cell longer
// than the cell size, no more rows or hits than asked for): the database must
// not change (no row, no schema, no change count) and the connection must
// stay usable.

#include "shadow/ShadowDB.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <string>

namespace {

using orlune::core::ShadowDB;
using orlune::core::ShadowMessage;
using orlune::core::SQLiteValue;

struct Fixture {
    std::unique_ptr<ShadowDB> db;
    int64_t count = 0;
    int64_t schemaVersion = 0;
    int64_t totalChanges = 0;
};

int64_t totalChanges(ShadowDB& db) {
    auto result = db.executeReadOnly("SELECT total_changes()", 1);
    return result.rows.at(0).at("total_changes()").asInteger();
}

Fixture& fixture() {
    static Fixture* made = [] {
        // SQLite answers "out of memory" rather than let one statement (a
        // huge zeroblob, a runaway recursive query) exhaust the process.
        sqlite3_hard_heap_limit64(256 * 1024 * 1024);
        char folder[] = "/tmp/orlune-query-fuzz.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        auto* f = new Fixture;
        f->db = std::make_unique<ShadowDB>(std::string(folder) + "/shadow.db");
        f->db->createSchemaIfNeeded();
        std::vector<ShadowMessage> messages;
        for (int i = 0; i < 50; ++i) {
            messages.emplace_back("guid-" + std::to_string(i), i % 3 ? "chat-a" : "chat-b",
                                  i % 2 ? std::optional<std::string>("Climbing") : std::nullopt,
                                  i % 4 ? "+15550001" : "me",
                                  "message " + std::to_string(i) + " about pizza, café and 🎉",
                                  1000 + i, i % 4 == 0, i % 3 == 0, false,
                                  std::vector<std::string>{}, i + 1);
        }
        f->db->insertBatch(messages);
        f->db->updateSyncState(1049, 50, 50);
        f->count = f->db->messageCount();
        f->schemaVersion = f->db->schemaVersion();
        f->totalChanges = totalChanges(*f->db);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored); // the open connection keeps the files alive
        return f;
    }();
    return *made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int limit = size > 0 ? static_cast<int>(data[0] % 8) - 1 : 0;
    orlune::core::QueryBounds bounds;
    bounds.timeLimit = std::chrono::milliseconds(200);
    bounds.maxCellBytes = 4096;
    try {
        auto result = f.db->executeReadOnly(text, limit, bounds);
        if (result.rows.size() > static_cast<size_t>(limit > 0 ? limit : 100)) {
            std::abort();
        }
        for (const auto& row : result.rows) {
            for (const auto& [column, value] : row) {
                if ((value.kind() == SQLiteValue::Kind::text &&
                     value.asText().size() > bounds.maxCellBytes) ||
                    (value.kind() == SQLiteValue::Kind::blob &&
                     value.asBlob().size() > bounds.maxCellBytes)) {
                    std::abort();
                }
            }
        }
    } catch (const ShadowDB::Error&) {
    }
    try {
        auto outcome = f.db->search(text, limit, bounds);
        if (limit >= 0 && outcome.results.size() > static_cast<size_t>(limit)) {
            std::abort();
        }
    } catch (const ShadowDB::Error&) {
    }
    try {
        (void)f.db->describeTable(text);
    } catch (const ShadowDB::Error&) {
    }
    // Nothing was written and the connection is not left inside a
    // transaction or otherwise unusable.
    if (f.db->messageCount() != f.count || f.db->schemaVersion() != f.schemaVersion ||
        totalChanges(*f.db) != f.totalChanges) {
        std::abort();
    }
    return 0;
}
