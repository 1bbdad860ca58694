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

#include "BenchSupport.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace orlune;
using namespace orlune::bench;

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

    const Figures plain = timedFirstSync(store, without, kSpacedIndex.drop);
    std::printf("(b) first sync without the spaced index: %.2f s wall, %.2f s CPU\n", plain.wall,
                plain.cpu);
    const Figures spaced = timedFirstSync(store, with);
    std::printf("(a) first sync with it:                  %.2f s wall, %.2f s CPU\n", spaced.wall,
                spaced.cpu);
    std::printf("ratio (a)/(b): %s (target <= 1.3)\n", ratio(spaced, plain).c_str());
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
