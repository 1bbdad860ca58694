// What the index of text in scripts written without spaces costs: the first
// sync of one store with that index and without it, in one run, the size of
// both files, and the time of searches in those scripts against a search for
// an English word in the same database.
//
//   bench_spaceless [--messages N] [--percent P] [--dir PATH] [--keep]
//
// Builds a sample messaging store of N messages (default 1,000,000), P% of
// them (default 5) in Chinese, Japanese, Korean or Thai. Then:
//   (b) times a first sync into a shadow database whose spaced index was
//       dropped before the sync (the sync then writes none);
//   (a) times a first sync into a fresh shadow database (with the index);
// and prints both, their ratio (target <= 1.3) and the files' sizes. Then
// times each search (median of 5, at most 10 hits) on (a).

#include "shadow/ShadowDB.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/SQLite.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orlune;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User + system CPU time of this process so far, in seconds: steadier than
// wall time on a shared machine.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figures {
    double wall = 0;
    double cpu = 0;
};

Figures timedSync(const std::string& store, const std::string& shadow) {
    const auto wall = Clock::now();
    const double cpu = cpuSeconds();
    core::ShadowSync(store, shadow).performSync();
    return {secondsSince(wall), cpuSeconds() - cpu};
}

// The shadow database's size once its log is folded into the file.
uintmax_t checkpointedSize(const std::string& path) {
    core::sqlite::Connection db;
    if (db.open(path, SQLITE_OPEN_READWRITE) == SQLITE_OK) {
        core::sqlite::exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)");
    }
    return std::filesystem::file_size(path);
}

} // namespace

int main(int argc, char** argv) {
    int64_t messages = 1000000;
    int percent = 5;
    std::string folder;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--messages" && i + 1 < argc) {
            messages = std::atoll(argv[++i]);
        } else if (arg == "--percent" && i + 1 < argc) {
            percent = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::cerr << "usage: bench_spaceless [--messages N] [--percent P] [--dir PATH] "
                         "[--keep]\n";
            return 2;
        }
    }
    namespace fs = std::filesystem;
    if (folder.empty()) {
        folder =
            (fs::temp_directory_path() / ("orlune-bench-spaceless-" + std::to_string(getpid())))
                .string();
    }
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string store = folder + "/chat.db";
    const std::string with = folder + "/with.db";
    const std::string without = folder + "/without.db";

    samplestore::SampleStoreOptions options;
    options.messageCount = messages;
    options.seed = 20261211;
    options.spacelessPercent = percent;
    const auto build = Clock::now();
    samplestore::buildSampleStore(store, options);
    std::cout << "bench_spaceless: " << messages << " messages, " << percent
              << "% without spaces, store built in " << secondsSince(build) << " s\n"
              << std::flush;

    {
        core::ShadowDB(without).createSchemaIfNeeded();
        core::sqlite::Connection db;
        if (db.open(without, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
            std::cerr << "cannot open " << without << "\n";
            return 1;
        }
        core::sqlite::exec(db.get(),
                           "DROP TRIGGER spaced_texts_follow_message; DROP TABLE spaced_fts; "
                           "DROP VIEW spaced_words; DROP TABLE spaced_texts");
    }
    const Figures plain = timedSync(store, without);
    std::printf("(b) first sync without the spaced index: %.2f s wall, %.2f s CPU\n", plain.wall,
                plain.cpu);
    const Figures spaced = timedSync(store, with);
    std::printf("(a) first sync with it:                  %.2f s wall, %.2f s CPU\n", spaced.wall,
                spaced.cpu);
    std::printf("ratio (a)/(b): %.3f wall, %.3f CPU (target <= 1.3)\n", spaced.wall / plain.wall,
                spaced.cpu / plain.cpu);
    const auto sizeWith = checkpointedSize(with);
    const auto sizeWithout = checkpointedSize(without);
    std::printf("file size: %.1f MB with, %.1f MB without (%.3fx)\n", sizeWith / 1e6,
                sizeWithout / 1e6, static_cast<double>(sizeWith) / sizeWithout);
    std::fflush(stdout);

    core::ShadowDBReader reader(with);
    const std::vector<std::string> queries = {"dinner", "雨",    "会",   "火锅",
                                              "회의",   "ประชุม", "Zoom", "明天 OK"};
    for (const std::string& query : queries) {
        std::vector<double> times;
        size_t hits = 0;
        for (int round = 0; round < 5; ++round) {
            const auto start = Clock::now();
            hits = reader.search(query, 10).size();
            times.push_back(secondsSince(start) * 1000);
        }
        std::sort(times.begin(), times.end());
        std::printf("search %-12s %3zu hits, median %7.2f ms\n", query.c_str(), hits, times[2]);
    }
    if (!keep) {
        fs::remove_all(folder);
    }
    return 0;
}
