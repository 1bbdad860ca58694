// `orlune bench`: runs a retrieval benchmark corpus through the full-text
// engine and the answer engine and prints their scores.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "TextTable.hpp"
#include "benchmark/AnswerEngineBackend.hpp"
#include "benchmark/BenchmarkRunner.hpp"
#include "benchmark/FTS5SearchBackend.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

namespace orlune::cli {

namespace {

constexpr const char* kHelp =
    "Usage: orlune bench [--verbose] [--json OUT] CORPUS.json\n"
    "\n"
    "Loads the corpus's messages (with the decoys it asks for) into a fresh\n"
    "full-text (FTS5) database in the temporary folder and runs each query's\n"
    "text (5 results each); then loads them, with the corpus's contacts and\n"
    "chats, into a fresh shadow database and asks each query's question (its\n"
    "text when it has none) the way the answer from the index reads it, at the\n"
    "corpus's moment (\"now\", else its newest message) in its zone. For each\n"
    "engine it prints recall and precision at 1, 3 and 5, mean reciprocal rank,\n"
    "the same per query category, and the 50th and 95th percentile latency;\n"
    "then recall@5 and MRR of both side by side, and the answer engine's on the\n"
    "queries held aside from tuning (\"held_out\": true, or an id starting\n"
    "\"h-\") apart from the others. The temporary databases are removed\n"
    "afterwards.\n"
    "\n"
    "Options:\n"
    "  --verbose    one line per query as it is scored: ✓ when an expected\n"
    "               message was among the results, ✗ when none was\n"
    "  --json OUT   also write the full metrics document (every query's\n"
    "               results and scores) to the file OUT: the full-text\n"
    "               engine's, with the answer engine's under \"answer_engine\"\n"
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

// recall@5 and MRR of both engines, per category and overall.
void printComparison(const core::BenchmarkMetrics& text, const core::BenchmarkMetrics& answers) {
    std::cout << "\nFull-text search against the answer engine\n";
    TextTable table(
        {"category", "queries", "FTS5 recall@5", "FTS5 MRR", "engine recall@5", "engine MRR"});
    for (core::QueryCategory category : core::allQueryCategories()) {
        const std::string name = core::toString(category);
        auto first = text.perCategoryMetrics.find(name);
        auto second = answers.perCategoryMetrics.find(name);
        if (first == text.perCategoryMetrics.end() || second == answers.perCategoryMetrics.end()) {
            continue;
        }
        table.addRow({name, std::to_string(first->second.queryCount),
                      fixed(first->second.recallAt5, 3), fixed(first->second.mrr, 3),
                      fixed(second->second.recallAt5, 3), fixed(second->second.mrr, 3)});
    }
    table.addRow({"overall", std::to_string(text.queryCount), fixed(text.recallAt5, 3),
                  fixed(text.mrr, 3), fixed(answers.recallAt5, 3), fixed(answers.mrr, 3)});
    table.print(std::cout);
}

// recall@5 and MRR per category of the queries kept aside from tuning and
// of the others, each part on its own; nothing when no query is kept aside.
void printHeldAside(const core::BenchmarkCorpus& corpus, const core::BenchmarkMetrics& answers) {
    std::set<std::string> heldOut;
    for (const core::CorpusQuery& query : corpus.queries) {
        if (query.heldOut) {
            heldOut.insert(query.id);
        }
    }
    if (heldOut.empty()) {
        return;
    }
    std::vector<core::QueryResult> parts[2];
    for (const core::QueryResult& result : answers.perQueryResults) {
        parts[heldOut.count(result.queryId)].push_back(result);
    }
    std::cout << "\nThe answer engine on the queries tuned on and on those held aside\n";
    TextTable table({"part", "category", "queries", "recall@5", "MRR"});
    const char* names[2] = {"tuned", "held aside"};
    for (int part = 0; part < 2; ++part) {
        const core::BenchmarkMetrics metrics =
            core::BenchmarkRunner::aggregate(std::move(parts[part]));
        for (core::QueryCategory category : core::allQueryCategories()) {
            auto found = metrics.perCategoryMetrics.find(core::toString(category));
            if (found != metrics.perCategoryMetrics.end()) {
                table.addRow({names[part], found->first, std::to_string(found->second.queryCount),
                              fixed(found->second.recallAt5, 3), fixed(found->second.mrr, 3)});
            }
        }
        table.addRow({names[part], "overall", std::to_string(metrics.queryCount),
                      fixed(metrics.recallAt5, 3), fixed(metrics.mrr, 3)});
    }
    table.print(std::cout);
}

// When the corpus's questions are asked: its "now", else its newest message.
core::TimeContext questionTime(const core::BenchmarkCorpus& corpus) {
    int64_t newest = 0;
    for (const auto& message : corpus.messages) {
        newest = std::max(newest, message.timestamp);
    }
    const auto now = core::instantFromStoreDate(corpus.now.value_or(newest));
    return core::TimeContext{now.value_or(core::Instant{}), corpus.zone.value_or("UTC"), "en_US"};
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
    std::string answersPath;
    try {
        const auto corpus = core::BenchmarkCorpus::load(options.positional()[0]).withDecoys();
        core::BenchmarkMetrics metrics;
        {
            auto backend = std::make_shared<core::FTS5SearchBackend>(std::nullopt);
            databasePath = backend->databasePath();
            answersPath = databasePath + ".answers.db";
            std::cout << "Running " << corpus.queries.size() << " queries over "
                      << corpus.messages.size() << " messages with the " << backend->name()
                      << " engine\n"
                      << std::flush;
            core::BenchmarkRunner runner(backend, corpus);
            metrics = runner.run(options.flag("--verbose"));
        }
        removeDatabase(databasePath);
        printMetrics(metrics);

        core::BenchmarkMetrics answerMetrics;
        {
            auto backend = std::make_shared<core::AnswerEngineBackend>(answersPath, corpus,
                                                                       questionTime(corpus));
            std::cout << "\nAsking " << corpus.queries.size() << " questions of the "
                      << backend->name() << "\n"
                      << std::flush;
            core::BenchmarkRunner runner(backend, corpus, true);
            answerMetrics = runner.run(options.flag("--verbose"));
        }
        removeDatabase(answersPath);
        printMetrics(answerMetrics);
        printComparison(metrics, answerMetrics);
        printHeldAside(corpus, answerMetrics);

        if (auto out = options.value("--json")) {
            std::ofstream file(*out, std::ios::binary | std::ios::trunc);
            nlohmann::ordered_json document = metrics.toJson();
            document["answer_engine"] = answerMetrics.toJson();
            file << document.dump(2) << "\n";
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
            removeDatabase(answersPath);
        }
        std::cerr << error.what() << "\n";
        return 1;
    }
}

const CommandRegistration registration(Command{
    "bench",
    "score the full-text search and the answer engine on a benchmark corpus",
    kHelp,
    runBench,
});

} // namespace

} // namespace orlune::cli
