// `orlune bench`: runs a retrieval benchmark corpus through the full-text
// engine and prints its scores.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "OrluneCore/BenchmarkRunner.hpp"
#include "OrluneCore/FTS5SearchBackend.hpp"
#include "TextTable.hpp"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace orlune::cli {

namespace {

constexpr const char* kHelp =
    "Usage: orlune bench [--verbose] [--json OUT] CORPUS.json\n"
    "\n"
    "Loads the corpus's messages into a fresh full-text (FTS5) database in the\n"
    "temporary folder, runs each of its queries (5 results each), and prints\n"
    "recall and precision at 1, 3 and 5, mean reciprocal rank, the same per\n"
    "query category, and the 50th and 95th percentile search latency. The\n"
    "temporary database is removed afterwards.\n"
    "\n"
    "Options:\n"
    "  --verbose    one line per query as it is scored: ✓ when an expected\n"
    "               message was among the results, ✗ when none was\n"
    "  --json OUT   also write the full metrics document (every query's\n"
    "               results and scores) to the file OUT\n"
    "  -h, --help   show this help\n"
    "\n"
    "Errors (an unreadable or invalid corpus, an unwritable OUT) are described\n"
    "on standard error, with exit status 1 (2 for wrong arguments).\n";

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void printMetrics(const core::BenchmarkMetrics& metrics) {
    std::cout << "\nOverall (" << metrics.queryCount << " queries)\n";
    TextTable overall({"metric", "@1", "@3", "@5"});
    overall.addRow({"recall", fixed(metrics.recallAt1, 3), fixed(metrics.recallAt3, 3),
                    fixed(metrics.recallAt5, 3)});
    overall.addRow({"precision", fixed(metrics.precisionAt1, 3), fixed(metrics.precisionAt3, 3),
                    fixed(metrics.precisionAt5, 3)});
    overall.print(std::cout);
    std::cout << "MRR: " << fixed(metrics.mrr, 3) << "\n";

    std::cout << "\nBy category\n";
    TextTable categories({"category", "queries", "recall@5", "precision@3", "MRR"});
    for (core::QueryCategory category : core::allQueryCategories()) {
        auto found = metrics.perCategoryMetrics.find(core::toString(category));
        if (found == metrics.perCategoryMetrics.end()) {
            continue;
        }
        const auto& m = found->second;
        categories.addRow({found->first, std::to_string(m.queryCount), fixed(m.recallAt5, 3),
                           fixed(m.precisionAt3, 3), fixed(m.mrr, 3)});
    }
    categories.print(std::cout);

    std::cout << "\nSearch latency\n";
    TextTable latency({"p50 (ms)", "p95 (ms)"});
    latency.addRow({fixed(metrics.latencyP50Ms, 3), fixed(metrics.latencyP95Ms, 3)});
    latency.print(std::cout);
}

void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(path + suffix, ignored);
    }
}

int runBench(const std::vector<std::string>& args) {
    OptionParser options("bench", {"--json"}, {"--verbose"});
    if (!options.parse(args)) {
        return 2;
    }
    if (!options.onePositional("a CORPUS.json file is needed", "give exactly one corpus file")) {
        return 2;
    }
    std::string databasePath;
    try {
        auto corpus = core::BenchmarkCorpus::load(options.positional()[0]);
        core::BenchmarkMetrics metrics;
        {
            auto backend = std::make_shared<core::FTS5SearchBackend>(std::nullopt);
            databasePath = backend->databasePath();
            std::cout << "Running " << corpus.queries.size() << " queries over "
                      << corpus.messages.size() << " messages with the " << backend->name()
                      << " engine\n"
                      << std::flush;
            core::BenchmarkRunner runner(backend, std::move(corpus));
            metrics = runner.run(options.flag("--verbose"));
        }
        removeDatabase(databasePath);
        printMetrics(metrics);
        if (auto out = options.value("--json")) {
            std::ofstream file(*out, std::ios::binary | std::ios::trunc);
            file << metrics.toJson().dump(2) << "\n";
            file.close();
            if (!file) {
                std::cerr << "Cannot write the metrics to " << *out << "\n";
                return 1;
            }
            std::cout << "\nMetrics written to " << *out << "\n";
        }
        return 0;
    } catch (const std::exception& error) {
        if (!databasePath.empty()) {
            removeDatabase(databasePath);
        }
        std::cerr << error.what() << "\n";
        return 1;
    }
}

const CommandRegistration registration(Command{
    "bench",
    "score the full-text search on a benchmark corpus",
    kHelp,
    runBench,
});

} // namespace

} // namespace orlune::cli
