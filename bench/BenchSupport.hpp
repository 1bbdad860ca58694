#pragma once
// What the sync benchmarks share: wall and CPU clocks, a timed first sync
// into a fresh shadow database with some of its tables taken out first, and
// the file's size. Each benchmark prints its figures beside a baseline
// measured in the same run.

#include "shadow/ShadowDB.hpp"
#include "sql/SQLite.hpp"
#include "sync/ShadowSync.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace orlune::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User + system CPU time of this process so far, in seconds. The machines
// are shared, so CPU time is printed beside wall time: it is the steadier of
// the two when other work competes for the cores.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Stopwatch {
    Clock::time_point wall = Clock::now();
    double cpu = cpuSeconds();
};

struct Figures {
    double wall = 0;
    double cpu = 0;
    int64_t rows = 0;
};

inline Figures stop(const Stopwatch& watch, int64_t rows = 0) {
    return Figures{secondsSince(watch.wall), cpuSeconds() - watch.cpu, rows};
}

inline std::string describe(const Figures& figures) {
    char text[160];
    std::snprintf(text, sizeof text, "%.2f s wall, %.2f s CPU, %lld rows", figures.wall,
                  figures.cpu, static_cast<long long>(figures.rows));
    return text;
}

// "a/b: 1.234 wall, 1.210 CPU".
inline std::string ratio(const Figures& a, const Figures& b) {
    char text[80];
    std::snprintf(text, sizeof text, "%.3f wall, %.3f CPU", a.wall / b.wall, a.cpu / b.cpu);
    return text;
}

// A part of the shadow database a first sync can be timed without: the
// statements that take it out of a new database (the sync skips a table
// that is not there).
struct LeftOutPart {
    const char* name;
    const char* drop;
};

// Every part the sync writes beside messages and their full-text index that
// it can do without (reactions it cannot: a page's removals read them).
inline constexpr LeftOutPart kSpacedIndex = {
    "spaced index (spaced_texts, spaced_fts)",
    "DROP TRIGGER spaced_texts_follow_message; DROP TABLE spaced_fts; DROP VIEW spaced_words; "
    "DROP TABLE spaced_texts"};
inline constexpr LeftOutPart kLeftOutParts[] = {
    {"chat membership (message_chats)",
     "DROP TRIGGER message_chats_follow_message; DROP TABLE message_chats"},
    {"emoji (message_emoji)",
     "DROP TRIGGER message_emoji_follow_message; DROP TABLE message_emoji"},
    kSpacedIndex,
    {"attachments (attachments, attachment_names_fts)",
     "DROP TRIGGER attachments_follow_message; DROP TABLE attachment_names_fts; "
     "DROP VIEW attachment_words; DROP TABLE attachments"},
};

// A new shadow database at `path` with the schema, less what `drop` takes
// out (SQL, may be empty). Exits with a message when that fails.
inline void makeShadowWithout(const std::string& path, const std::string& drop) {
    for (const char* suffix : {"", "-wal", "-shm", "-lock"}) {
        std::filesystem::remove(path + suffix);
    }
    core::ShadowDB(path).createSchemaIfNeeded();
    if (drop.empty()) {
        return;
    }
    core::sqlite::Connection db;
    if (db.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    core::sqlite::exec(db.get(), drop);
}

// A first sync of `store` into a new shadow database at `shadow` made
// without `drop` (see makeShadowWithout); rows = messages written.
inline Figures timedFirstSync(const std::string& store, const std::string& shadow,
                              const std::string& drop = {}) {
    makeShadowWithout(shadow, drop);
    core::ShadowSync sync(store, shadow);
    Stopwatch watch;
    const int64_t written = sync.performSync();
    return stop(watch, written);
}

// The shadow database's size once its log is folded into the file.
inline uintmax_t checkpointedSize(const std::string& path) {
    core::sqlite::Connection db;
    if (db.open(path, SQLITE_OPEN_READWRITE) == SQLITE_OK) {
        core::sqlite::exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)");
    }
    return std::filesystem::file_size(path);
}

} // namespace orlune::bench
