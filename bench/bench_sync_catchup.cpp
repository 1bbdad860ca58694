// What the sync's catch-up checks cost, against the first sync of the same
// store measured in the same run.
//
//   bench_sync_catchup [--messages N] [--dir PATH] [--attachments]
//
// Builds a sample messaging store of N messages (default 1,000,000; with
// --attachments, the attachment rows real stores hold too), times a
// first ShadowSync::performSync with and without the attachment-name index
// and the emoji table (and searches on both), then times passes that find:
//   - nothing (an unchanged store): the re-check window, the ROWID and join
//     marks and an empty page, with no write;
//   - 1,000 rows restored with old dates (higher ROWIDs, dates long passed);
//   - 1,000 late chat joins (messages copied in no chat, then joined);
//   - 200 edits among the newest rows;
// and prints each as a time and as a share of the first sync. Every pass
// after the first should stay in milliseconds, whatever N.

#include "shadow/ShadowDB.hpp"
#include "sql/SQLite.hpp"
#include "store/ChatDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

using namespace orlune;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void exec(const std::string& path, const std::string& sql) {
    core::sqlite::Connection db;
    try {
        if (db.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
            throw core::sqlite::Error(core::sqlite::Error::Stage::exec, SQLITE_CANTOPEN,
                                      db.errorMessage());
        }
        core::sqlite::exec(db.get(), sql);
    } catch (const core::sqlite::Error& error) {
        std::cerr << "bench_sync_catchup: " << error.what() << "\n";
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    int64_t messages = 1000000;
    std::string folder;
    bool withAttachments = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--messages" && i + 1 < argc) {
            messages = std::atoll(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--attachments") {
            withAttachments = true;
        } else {
            std::cerr << "usage: bench_sync_catchup [--messages N] [--dir PATH] [--attachments]\n";
            return 2;
        }
    }
    const bool ownFolder = folder.empty();
    if (ownFolder) {
        char pattern[] = "/tmp/orlune-bench-catchup.XXXXXX";
        folder = mkdtemp(pattern);
    }
    const std::string store = folder + "/chat.db";
    const std::string shadow = folder + "/shadow.db";
    std::filesystem::remove(store);
    std::filesystem::remove(shadow);

    samplestore::SampleStoreOptions options;
    options.messageCount = messages;
    options.content.attachments = withAttachments;
    auto summary = samplestore::buildSampleStore(store, options);
    std::cout << "bench_sync_catchup: " << summary.messages << " messages in " << folder << "\n";

    // What the attachment-name index and the emoji table cost: first syncs
    // into a database without them (their triggers and table dropped after
    // the schema is made) and with them, alternating, best of two each;
    // then searches on both.
    const std::string plain = folder + "/shadow-plain.db";
    auto firstSyncInto = [&](const std::string& path, bool withIndexes) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::filesystem::remove(path + suffix);
        }
        if (!withIndexes) {
            core::ShadowDB(path).createSchemaIfNeeded();
            exec(path, "DROP TRIGGER attachment_names_fts_insert; "
                       "DROP TRIGGER attachment_names_fts_delete; "
                       "DROP TRIGGER attachment_names_fts_update; "
                       "DROP TABLE attachment_names_fts; "
                       "DROP TRIGGER message_emoji_follow_message; DROP TABLE message_emoji");
        }
        core::ShadowSync into(store, path);
        auto began = Clock::now();
        into.performSync();
        return secondsSince(began);
    };
    double plainBest = 1e9;
    double indexedBest = 1e9;
    for (int round = 0; round < 2; ++round) {
        plainBest = std::min(plainBest, firstSyncInto(plain, false));
        indexedBest = std::min(indexedBest, firstSyncInto(shadow, true));
    }
    std::printf("first sync without name and emoji indexes: %9.3f s\n", plainBest);
    std::printf("first sync with them:                      %9.3f s (%.3fx)\n", indexedBest,
                indexedBest / plainBest);
    auto timeSearches = [&](const std::string& path, const char* query) {
        core::ShadowDBReader reader(path);
        constexpr int kRuns = 200;
        size_t hits = 0;
        auto began = Clock::now();
        for (int i = 0; i < kRuns; ++i) {
            hits = reader.search(query, 10).size();
        }
        return std::pair<double, size_t>(secondsSince(began) * 1000 / kRuns, hits);
    };
    for (const char* query :
         {"dinner", "photo OR pdf", "tomorrow", "\U0001F602", "\u2764\uFE0F", "\U0001F602 lol"}) {
        const auto [plainMs, plainHits] = timeSearches(plain, query);
        const auto [indexedMs, indexedHits] = timeSearches(shadow, query);
        std::printf("search %-14s without %7.3f ms (%zu hits), with %7.3f ms (%zu hits), %.2fx\n",
                    query, plainMs, plainHits, indexedMs, indexedHits, indexedMs / plainMs);
    }

    core::ShadowSync sync(store, shadow);
    auto start = Clock::now();
    const int64_t firstWritten = sync.performSync();
    const double first = indexedBest;
    std::printf("first sync:          %9.3f s, %lld written (measured above; this pass %.3f s)\n",
                first, static_cast<long long>(firstWritten), secondsSince(start));

    auto timePass = [&](const char* name) {
        auto passStart = Clock::now();
        const int64_t written = sync.performSync();
        const double seconds = secondsSince(passStart);
        std::printf("%-20s %9.2f ms, %5lld written, %.4f%% of the first sync\n", name,
                    seconds * 1000, static_cast<long long>(written), 100.0 * seconds / first);
    };

    timePass("unchanged store:");
    timePass("unchanged again:");

    // Restored rows: copies of 1,000 early messages under new guids and
    // ROWIDs above every other, keeping their old dates.
    const int64_t top = summary.messages + 1000000;
    exec(store,
         "INSERT INTO message (ROWID, guid, text, attributedBody, date, is_from_me, handle_id) "
         "SELECT ROWID + " +
             std::to_string(top) +
             ", 'restored-' || guid, text, attributedBody, "
             "date, is_from_me, handle_id FROM message WHERE ROWID <= 1000; "
             "INSERT INTO chat_message_join (chat_id, message_id, message_date) "
             "SELECT chat_id, message_id + " +
             std::to_string(top) +
             ", message_date "
             "FROM chat_message_join WHERE message_id <= 1000");
    timePass("1000 restored rows:");

    // Late joins: 1,000 new messages in no chat, synced, then joined.
    const int64_t lateBase = top + 10000;
    exec(store, "INSERT INTO message (ROWID, guid, text, date, is_from_me, handle_id) "
                "SELECT ROWID + " +
                    std::to_string(lateBase) +
                    ", 'late-' || guid, 'late join ' || ROWID, "
                    "(SELECT max(date) FROM message) + ROWID, 0, handle_id FROM message WHERE "
                    "ROWID <= 1000");
    timePass("1000 chatless rows:");
    exec(store,
         "INSERT INTO chat_message_join (chat_id, message_id, message_date) "
         "SELECT (SELECT min(ROWID) FROM chat), ROWID, date FROM message WHERE guid LIKE 'late-%'");
    timePass("1000 late joins:");

    // Edits among the newest rows.
    exec(store, "UPDATE message SET text = 'edited ' || ROWID WHERE ROWID IN "
                "(SELECT ROWID FROM message ORDER BY ROWID DESC LIMIT 200)");
    timePass("200 edits:");

    // Deletions anywhere in the store: one message deleted for good (the
    // store logs its guid in deleted_messages), then one deleted with the
    // log pruned (found by the row count: every guid is compared), then one
    // moved to Recently Deleted. Each pass also purges the removed words
    // from the file (index merge, checkpoint).
    auto present = [&](const std::string& guid) {
        core::sqlite::Connection db;
        if (db.open(shadow, SQLITE_OPEN_READONLY) != SQLITE_OK) {
            return true;
        }
        core::sqlite::Statement query = db.prepare("SELECT COUNT(*) FROM messages WHERE guid = ?");
        query.bindText(1, guid);
        return query.step() && query.columnInt64(0) > 0;
    };
    auto guidAt = [&](int64_t rowid) {
        core::ChatDBReader reader(store);
        return reader.guidAt(rowid).value_or(std::string());
    };
    const int64_t middle = summary.messages / 2;
    std::string gone = guidAt(middle);
    exec(store, "DELETE FROM message WHERE ROWID = " + std::to_string(middle));
    timePass("1 logged deletion:");
    std::printf("%-20s %s\n", "", present(gone) ? "STILL THERE" : "gone from the copy");
    gone = guidAt(middle / 2);
    exec(store, "DELETE FROM message WHERE ROWID = " + std::to_string(middle / 2) +
                    "; DELETE FROM deleted_messages");
    timePass("1 unlogged deletion:");
    std::printf("%-20s %s\n", "", present(gone) ? "STILL THERE" : "gone from the copy");
    timePass("unchanged after:");

    if (ownFolder) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
