// Search latency on a large shadow database: ShadowDB::search against the
// statement it runs, prepared, stepped and read directly with the SQLite API,
// on the same file, in the same run. The statement is the product's own: a
// trace on the shadow database's connection records the full-text statement
// each search runs, with its values in place, and the direct path runs that
// text.
//
// Usage: bench_search [MESSAGES] [ROUNDS]   (default 1000000 messages, 7 rounds)
//
// Builds a sample messaging store in a temporary folder and syncs it into a
// shadow database with ShadowSync; when that leaves fewer than MESSAGES
// messages (some store rows yield none), tops the shadow database up with
// copies of synced messages under new guids through ShadowDB::insertBatch.
// Then runs a fixed set of
// queries ROUNDS times through both paths (alternating which goes first) and
// prints p50 and p95 of each path and their ratio. The folder is removed at
// the end.

#include "shadow/ShadowDB.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLimit = 20;

// Rare and common words, phrases, boolean operators, prefixes, column
// filters, accented words, and queries that find nothing or do not parse.
const std::vector<std::string> kQueries = {
    "ramen",
    "tacos tomorrow",
    "\"birthday card\"",
    "pizza OR sushi",
    "falafel NOT tonight",
    "lisbon",
    "kraków",
    "zürich",
    "müller",
    "dent*",
    "chat_name:climbing",
    "sender:example",
    "terminal",
    "dumplings saturday",
    "\"half past 5\"",
    "charger",
    "umbrella",
    "\"blue folder\"",
    "ikea",
    "bakery",
    "hospital",
    "shibuya",
    "airport terminal",
    "\"coffee beans\"",
    "\"oat milk\"",
    "pho",
    "bibimbap",
    "pastéis",
    "crêpes",
    "curry friday",
    "tickets weekend",
    "keys",
    "batteries",
    "\"dog food\"",
    "library",
    "beach",
    "\"farmers market\"",
    "cinema",
    "gym",
    "\"climbing gym\"",
    "\"pub on queen\"",
    "station",
    "tesco",
    "noon",
    "10ish",
    "hilarious",
    "landed",
    "traffic",
    "chloé",
    "søren",
    "priya",
    "\"happy birthday\"",
    "chat_name:wedding",
    "roommates",
    "lisbon NOT trip",
    "nonexistentword",
    "what's up",
    "pasta AND (monday OR thursday)",
};

std::string text(sqlite3_stmt* statement, int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value == nullptr ? std::string() : std::string(value);
}

// The last full-text statement a traced connection began, with its values
// written in (sqlite3_expanded_sql).
std::string lastSearchStatement;

int recordSearchStatement(unsigned, void*, void* statement, void*) {
    auto* prepared = static_cast<sqlite3_stmt*>(statement);
    const char* sql = sqlite3_sql(prepared);
    if (sql != nullptr && std::strstr(sql, "messages_fts MATCH") != nullptr) {
        if (char* expanded = sqlite3_expanded_sql(prepared)) {
            lastSearchStatement = expanded;
            sqlite3_free(expanded);
        }
    }
    return 0;
}

// Registered with sqlite3_auto_extension: traces each connection opened
// while it is registered.
int traceConnection(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, recordSearchStatement, nullptr);
    return SQLITE_OK;
}

// The baseline: what a caller writing straight against SQLite would do for
// one search: prepare, step, copy the columns out, finalize.
size_t directSearch(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    std::vector<std::vector<std::string>> hits;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = hits.emplace_back();
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            row.push_back(text(statement, column));
        }
    }
    sqlite3_finalize(statement);
    return hits.size();
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(static_cast<double>(values.size() - 1) * p)];
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    int64_t messageCount = argc > 1 ? std::atoll(argv[1]) : 1000000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    if (messageCount < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_search [MESSAGES] [ROUNDS]\n");
        return 2;
    }

    std::string pattern = (std::filesystem::temp_directory_path() / "bench-search-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::filesystem::path folder = pattern;
    std::string chatPath = (folder / "chat.db").string();
    std::string shadowPath = (folder / "shadow.db").string();

    int status = 0;
    try {
        auto start = Clock::now();
        orlune::samplestore::SampleStoreOptions options;
        options.messageCount = messageCount;
        options.seed = 42;
        orlune::samplestore::buildSampleStore(chatPath, options);
        int64_t storeRows = options.messageCount;
        double buildSeconds = millisecondsSince(start) / 1000;
        std::printf("sample store: %lld rows in %.1f s\n", static_cast<long long>(storeRows),
                    buildSeconds);
        std::fflush(stdout);

        orlune::core::ShadowSync sync(chatPath, shadowPath);
        start = Clock::now();
        sync.performSync();
        double syncSeconds = millisecondsSince(start) / 1000;
        int64_t synced = sync.messageCount();
        int64_t stored = synced;
        if (stored < messageCount) {
            // Some store rows yield no message; top up with copies of synced
            // messages under new guids, written through the same batch insert.
            start = Clock::now();
            orlune::core::ShadowDB writer(shadowPath);
            sqlite3* source = nullptr;
            sqlite3_open_v2(shadowPath.c_str(), &source, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* read = nullptr;
            sqlite3_prepare_v2(source,
                               "SELECT chat_id, chat_name, sender, text, timestamp, is_from_me, "
                               "is_group FROM messages ORDER BY rowid LIMIT ?",
                               -1, &read, nullptr);
            sqlite3_bind_int64(read, 1, messageCount - stored);
            std::vector<orlune::core::ShadowMessage> batch;
            int64_t copy = 0;
            auto flush = [&] {
                writer.insertBatch(batch);
                batch.clear();
            };
            while (sqlite3_step(read) == SQLITE_ROW) {
                std::optional<std::string> chatName;
                if (sqlite3_column_type(read, 1) != SQLITE_NULL) {
                    chatName = text(read, 1);
                }
                batch.emplace_back("copy-" + std::to_string(++copy), text(read, 0), chatName,
                                   text(read, 2), text(read, 3), sqlite3_column_int64(read, 4) + 1,
                                   sqlite3_column_int(read, 5) != 0,
                                   sqlite3_column_int(read, 6) != 0, false,
                                   std::vector<std::string>{}, copy);
                if (batch.size() == 10000) {
                    flush();
                }
            }
            flush();
            sqlite3_finalize(read);
            sqlite3_close_v2(source);
            stored = writer.messageCount();
            std::printf("topped up with %lld copies in %.1f s\n", static_cast<long long>(copy),
                        millisecondsSince(start) / 1000);
        }
        std::printf("sync: %lld messages synced in %.1f s; %lld in the shadow database\n",
                    static_cast<long long>(synced), syncSeconds, static_cast<long long>(stored));
        std::fflush(stdout);

        // Only the product's connection is traced.
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(traceConnection));
        orlune::core::ShadowDB shadow(shadowPath);
        sqlite3_reset_auto_extension();
        sqlite3* direct = nullptr;
        if (sqlite3_open_v2(shadowPath.c_str(), &direct,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "cannot open %s\n", shadowPath.c_str());
            return 1;
        }
        // The same connection settings as ShadowDB's, so that only the code
        // around the statement differs.
        for (std::string_view pragma : orlune::core::shadow_schema::kOpenPragmas) {
            sqlite3_exec(direct, std::string(pragma).c_str(), nullptr, nullptr, nullptr);
        }

        // Warm both connections' caches, record the statement each query
        // runs, and check that both paths agree.
        size_t totalHits = 0;
        std::map<std::string, std::string> statements;
        for (const auto& query : kQueries) {
            lastSearchStatement.clear();
            size_t viaShadow = shadow.search(query, kLimit).size();
            statements[query] = lastSearchStatement;
            if (lastSearchStatement.empty()) {
                std::fprintf(stderr, "no full-text statement recorded for %s\n", query.c_str());
                status = 1;
                continue;
            }
            size_t viaDirect = directSearch(direct, statements[query]);
            if (viaShadow != viaDirect) {
                std::fprintf(stderr, "paths disagree on %s: %zu vs %zu\n", query.c_str(), viaShadow,
                             viaDirect);
                status = 1;
            }
            totalHits += viaShadow;
        }

        std::vector<double> shadowTimes, directTimes, pairRatios;
        for (int round = 0; round < rounds; ++round) {
            for (const auto& query : kQueries) {
                auto timeShadow = [&] {
                    auto t = Clock::now();
                    auto hits = shadow.search(query, kLimit);
                    shadowTimes.push_back(millisecondsSince(t));
                };
                auto timeDirect = [&] {
                    auto t = Clock::now();
                    directSearch(direct, statements[query]);
                    directTimes.push_back(millisecondsSince(t));
                };
                if (round % 2 == 0) {
                    timeShadow();
                    timeDirect();
                } else {
                    timeDirect();
                    timeShadow();
                }
                pairRatios.push_back(shadowTimes.back() / directTimes.back());
            }
        }
        sqlite3_close_v2(direct);

        double shadowP50 = percentile(shadowTimes, 0.5), shadowP95 = percentile(shadowTimes, 0.95);
        double directP50 = percentile(directTimes, 0.5), directP95 = percentile(directTimes, 0.95);
        std::printf("%zu queries x %d rounds, limit %d, %zu hits per round\n", kQueries.size(),
                    rounds, kLimit, totalHits);
        std::printf("%-22s %10s %10s\n", "path", "p50 (ms)", "p95 (ms)");
        std::printf("%-22s %10.3f %10.3f\n", "ShadowDB::search", shadowP50, shadowP95);
        std::printf("%-22s %10.3f %10.3f\n", "SQLite API directly", directP50, directP95);
        std::printf("%-22s %10.3f %10.3f   (target <= 1.1)\n", "ratio", shadowP50 / directP50,
                    shadowP95 / directP95);
        std::printf("median of per-query paired ratios: %.3f\n", percentile(pairRatios, 0.5));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
