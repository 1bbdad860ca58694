// Sync speed and memory, against a pure-SQL copy measured in the same run,
// and what each part of the shadow database adds to a first sync.
//
//   bench_sync [--messages N] [--dir PATH] [--keep] [--parts]
//
// Builds a sample messaging store of N messages (default 1,000,000; 40% with
// their text only in the attributedBody archive) and a second store with the
// same messages whose text is all in the `text` column. Then:
//   (a) times a first ShadowSync::performSync into a fresh shadow database;
//   (b) times a pure-SQL copy of the same rows into a fresh database with the
//       same schema, triggers, indexes and connection settings: ATTACH the
//       text-only store and, in one transaction, INSERT ... SELECT into
//       messages (the reader's joins and rules written in SQL; the full-text
//       index follows by its triggers) and into message_chats;
// and prints both and their ratio (target <= 1.25). With --parts it then
// times a first sync without each part the sync writes beside messages
// (BenchSupport's kLeftOutParts) and the copy without message_chats, each
// beside (a) and (b). Then appends 1,000 messages to the store and times the
// incremental pass that finds them (target <= 1% of the first sync). Peak
// memory of the first sync is the process's VmHWM, reset just before the
// pass (target < 200 MB, and not growing with N: compare a run with
// --messages 250000).

#include "BenchSupport.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace orlune;
using namespace orlune::bench;

// A field of /proc/self/status in kB (VmRSS, VmHWM), or -1 (always on the
// Mac, which has no /proc).
long statusKilobytes(const std::string& field) {
#ifndef __linux__
    (void)field;
    return -1;
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
#endif
}

// Resets VmHWM to the current RSS (Linux 4.0+); false where unsupported.
bool resetPeakMemory() {
#ifndef __linux__
    return false;
#else
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
#endif
}

void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK) {
        std::cerr << what << ": " << core::sqlite::errorMessage(db) << "\n";
        std::exit(1);
    }
}

void run(sqlite3* db, const std::string& sql, const char* what) {
    try {
        core::sqlite::exec(db, sql);
    } catch (const core::sqlite::Error& error) {
        std::cerr << what << ": " << error.what() << "\n";
        std::exit(1);
    }
}

// The pure-SQL copy: the reader's query and normalisation rules as one
// INSERT ... SELECT. The content hash (SHA-256 in the real path) has no SQL
// counterpart; a random 16-hex-digit text of the same size stands in.
constexpr const char* kCopyMessages =
    "INSERT OR REPLACE INTO messages\n"
    "(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,\n"
    " has_attachments, attachment_types, content_hash)\n"
    "SELECT m.guid, ifnull(c.guid, 'unknown'), c.display_name,\n"
    "       CASE WHEN m.is_from_me <> 0 THEN 'me' ELSE ifnull(h.id, 'unknown') END,\n"
    "       m.text, m.date, m.is_from_me <> 0, ifnull(c.style, 0) = 43, 0, NULL,\n"
    "       lower(hex(randomblob(8)))\n"
    "FROM store.message m\n"
    "LEFT JOIN store.handle h ON m.handle_id = h.ROWID\n"
    "LEFT JOIN store.chat_message_join cmj ON m.ROWID = cmj.message_id\n"
    "LEFT JOIN store.chat c ON cmj.chat_id = c.ROWID\n"
    "WHERE m.guid IS NOT NULL AND ifnull(m.text, '') <> ''\n"
    "ORDER BY m.date ASC, m.ROWID ASC";
// Every chat of each message copied.
constexpr const char* kCopyMemberships =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id)\n"
    "SELECT m.guid, c.guid\n"
    "FROM store.message m\n"
    "JOIN store.chat_message_join cmj ON m.ROWID = cmj.message_id\n"
    "JOIN store.chat c ON cmj.chat_id = c.ROWID\n"
    "WHERE m.guid IS NOT NULL AND ifnull(m.text, '') <> ''";

// The copy into a new database at `target`, with the chat membership or
// without it (its table dropped first).
Figures runBaseline(const std::string& textStore, const std::string& target, bool memberships) {
    makeShadowWithout(target, memberships ? "" : kLeftOutParts[0].drop);
    core::sqlite::Connection db;
    check(db.open(target, SQLITE_OPEN_READWRITE), db.get(), "open baseline");
    for (auto pragma : core::shadow_schema::kOpenPragmas) {
        run(db.get(), std::string(pragma), "pragma");
    }
    run(db.get(), "ATTACH DATABASE '" + textStore + "' AS store", "attach");

    Stopwatch watch;
    run(db.get(), "BEGIN", "begin");
    run(db.get(), kCopyMessages, "copy");
    const int64_t rows = sqlite3_changes64(db.get());
    if (memberships) {
        run(db.get(), kCopyMemberships, "copy memberships");
    }
    run(db.get(), "COMMIT", "commit");
    return stop(watch, rows);
}

} // namespace

int main(int argc, char** argv) {
    int64_t messages = 1000000;
    std::string folder;
    bool keep = false;
    bool parts = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--messages" && i + 1 < argc) {
            messages = std::atoll(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else if (arg == "--parts") {
            parts = true;
        } else {
            std::cerr << "usage: bench_sync [--messages N] [--dir PATH] [--keep] [--parts]\n";
            return 2;
        }
    }
    namespace fs = std::filesystem;
    if (folder.empty()) {
        folder = (fs::temp_directory_path() / ("orlune-bench-sync-" + std::to_string(getpid())))
                     .string();
    }
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string store = folder + "/chat.db";
    std::string textStore = folder + "/chat-text-only.db";
    std::string shadow = folder + "/shadow.db";
    std::string baseline = folder + "/baseline.db";

    std::cout << "bench_sync: " << messages << " messages in " << folder << "\n" << std::flush;

    samplestore::SampleStoreOptions options;
    options.messageCount = messages;
    options.seed = 20261210;
    options.archiveOnlyPercent = 40;
    Stopwatch build;
    samplestore::SampleStoreSummary summary = samplestore::buildSampleStore(store, options);
    std::cout << "store built in " << secondsSince(build.wall) << " s: " << summary.messages
              << " messages, archive only " << summary.archiveOnly << " ("
              << 100.0 * summary.archiveOnly / summary.messages << "%), text only "
              << summary.textOnly << ", both " << summary.both << ", neither " << summary.neither
              << ", in two chats " << summary.inTwoChats << "\n"
              << std::flush;
    options.textAlwaysInTextColumn = true;
    samplestore::buildSampleStore(textStore, options);

    // (a) the first sync.
    bool peakReset = resetPeakMemory();
    long rssBefore = statusKilobytes("VmRSS");
    core::ShadowSync sync(store, shadow);
    Stopwatch watch;
    Figures first = stop(watch, sync.performSync());
    long peak = statusKilobytes("VmHWM");
    std::cout << "(a) first sync:    " << describe(first) << " written, " << sync.messageCount()
              << " in the shadow database\n"
              << std::flush;

    // (b) the pure-SQL copy.
    Figures copy = runBaseline(textStore, baseline, true);
    std::cout << "(b) pure-SQL copy: " << describe(copy) << "\n";
    std::cout << "ratio (a)/(b): " << ratio(first, copy) << " (target <= 1.25)\n" << std::flush;

    // What each part adds: the same first sync without it, and the copy
    // without the chat membership.
    if (parts) {
        const std::string partShadow = folder + "/part.db";
        for (const LeftOutPart& part : kLeftOutParts) {
            const Figures without = timedFirstSync(store, partShadow, part.drop);
            std::cout << "first sync without " << part.name << ": " << describe(without)
                      << "\n  (a)/this: " << ratio(first, without)
                      << "; this/(b): " << ratio(without, copy) << "\n"
                      << std::flush;
        }
        const Figures bare = runBaseline(textStore, partShadow, false);
        std::cout << "pure-SQL copy without message_chats: " << describe(bare)
                  << "\n  (b)/this: " << ratio(copy, bare) << "; (a)/this: " << ratio(first, bare)
                  << "\n"
                  << std::flush;
        for (const char* suffix : {"", "-wal", "-shm", "-lock"}) {
            std::filesystem::remove(partShadow + suffix);
        }
    }

    // The incremental pass.
    samplestore::appendSampleMessages(store, 1000, options.seed + 1);
    watch = Stopwatch();
    Figures incremental = stop(watch, sync.performSync());
    std::cout << "incremental pass:  " << describe(incremental) << " written\n";
    std::printf("incremental / first: %.2f%% wall, %.2f%% CPU (target <= 1%%)\n",
                100.0 * incremental.wall / first.wall, 100.0 * incremental.cpu / first.cpu);
    std::fflush(stdout);

    std::cout << "memory: RSS before the first sync " << rssBefore / 1024 << " MB, peak during it "
              << (peakReset ? "" : "(process peak, reset unsupported) ") << peak / 1024
              << " MB (target < 200 MB)\n";
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << "process maxrss " << usage.ru_maxrss / 1024
              << " MB (includes building the stores)\n";

    if (!keep) {
        fs::remove_all(folder);
    }
    return 0;
}
