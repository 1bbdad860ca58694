#include "benchmark/BenchmarkRunner.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace orlune::core {

namespace {

constexpr int kResultsPerQuery = 5;

// Wall-clock time in seconds since 1970.
double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

size_t hitsInTop(const std::vector<std::string>& retrieved, const std::set<std::string>& expected,
                 int k) {
    size_t cut = std::min(retrieved.size(), static_cast<size_t>(std::max(k, 0)));
    // The top-k is a set: a guid returned twice counts once.
    std::set<std::string> top(retrieved.begin(), retrieved.begin() + static_cast<ptrdiff_t>(cut));
    return static_cast<size_t>(std::count_if(
        top.begin(), top.end(), [&](const std::string& guid) { return expected.count(guid) > 0; }));
}

} // namespace

BenchmarkRunner::BenchmarkRunner(std::shared_ptr<SearchBackend> backend, BenchmarkCorpus corpus)
    : backend_(std::move(backend)), corpus_(std::move(corpus)) {}

BenchmarkRunner::BenchmarkRunner(std::shared_ptr<SearchBackend> backend, BenchmarkCorpus corpus,
                                 bool askQuestions)
    : backend_(std::move(backend)), corpus_(std::move(corpus)), askQuestions_(askQuestions) {}

double BenchmarkRunner::calculateRecall(const std::vector<std::string>& retrieved,
                                        const std::set<std::string>& expected, int k) {
    if (expected.empty()) {
        return 1.0;
    }
    return static_cast<double>(hitsInTop(retrieved, expected, k)) /
           static_cast<double>(expected.size());
}

double BenchmarkRunner::calculatePrecision(const std::vector<std::string>& retrieved,
                                           const std::set<std::string>& expected, int k) {
    if (retrieved.empty()) {
        return 0.0;
    }
    size_t cut = std::min(retrieved.size(), static_cast<size_t>(k));
    return static_cast<double>(hitsInTop(retrieved, expected, k)) / static_cast<double>(cut);
}

double BenchmarkRunner::calculateReciprocalRank(const std::vector<std::string>& retrieved,
                                                const std::set<std::string>& expected) {
    for (size_t i = 0; i < retrieved.size(); ++i) {
        if (expected.count(retrieved[i]) > 0) {
            return 1.0 / static_cast<double>(i + 1);
        }
    }
    return 0.0;
}

double BenchmarkRunner::percentile(const std::vector<double>& values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    auto index = static_cast<size_t>(static_cast<double>(values.size() - 1) * p);
    return values[std::min(index, values.size() - 1)];
}

BenchmarkMetrics BenchmarkRunner::aggregate(std::vector<QueryResult> results) {
    BenchmarkMetrics metrics;
    if (results.empty()) {
        return metrics;
    }
    auto q = static_cast<double>(results.size());
    std::vector<double> latencies;
    latencies.reserve(results.size());
    for (const auto& r : results) {
        metrics.recallAt1 += r.recallAt1;
        metrics.recallAt3 += r.recallAt3;
        metrics.recallAt5 += r.recallAt5;
        metrics.precisionAt1 += r.precisionAt1;
        metrics.precisionAt3 += r.precisionAt3;
        metrics.precisionAt5 += r.precisionAt5;
        metrics.mrr += r.reciprocalRank;
        latencies.push_back(r.latencyMs);
    }
    metrics.recallAt1 /= q;
    metrics.recallAt3 /= q;
    metrics.recallAt5 /= q;
    metrics.precisionAt1 /= q;
    metrics.precisionAt3 /= q;
    metrics.precisionAt5 /= q;
    metrics.mrr /= q;
    metrics.queryCount = static_cast<int64_t>(results.size());
    std::sort(latencies.begin(), latencies.end());
    metrics.latencyP50Ms = percentile(latencies, 0.5);
    metrics.latencyP95Ms = percentile(latencies, 0.95);

    for (const auto& r : results) {
        CategoryMetrics& category = metrics.perCategoryMetrics[r.category];
        category.queryCount += 1;
        category.recallAt5 += r.recallAt5;
        category.precisionAt3 += r.precisionAt3;
        category.mrr += r.reciprocalRank;
    }
    for (auto& [name, category] : metrics.perCategoryMetrics) {
        auto n = static_cast<double>(category.queryCount);
        category.recallAt5 /= n;
        category.precisionAt3 /= n;
        category.mrr /= n;
    }
    metrics.perQueryResults = std::move(results);
    return metrics;
}

BenchmarkMetrics BenchmarkRunner::run(bool verbose) const {
    return run(verbose, std::cout);
}

BenchmarkMetrics BenchmarkRunner::run(bool verbose, std::ostream& progress) const {
    std::vector<ShadowMessage> messages;
    messages.reserve(corpus_.messages.size());
    for (const auto& message : corpus_.messages) {
        messages.push_back(message.toShadowMessage());
    }
    backend_->ingest(messages);
    if (corpus_.queries.empty()) {
        return BenchmarkMetrics{};
    }

    std::vector<QueryResult> results;
    results.reserve(corpus_.queries.size());
    for (const auto& query : corpus_.queries) {
        const std::string& asked = askQuestions_ && query.question ? *query.question : query.text;
        double start = now();
        std::vector<std::string> retrieved = backend_->search(asked, kResultsPerQuery);
        double latencyMs = (now() - start) * 1000.0;

        std::set<std::string> expected(query.expectedGuids.begin(), query.expectedGuids.end());
        QueryResult result{query.id,
                           asked,
                           toString(query.category),
                           retrieved,
                           query.expectedGuids,
                           calculateRecall(retrieved, expected, 1),
                           calculateRecall(retrieved, expected, 3),
                           calculateRecall(retrieved, expected, 5),
                           calculatePrecision(retrieved, expected, 1),
                           calculatePrecision(retrieved, expected, 3),
                           calculatePrecision(retrieved, expected, 5),
                           calculateReciprocalRank(retrieved, expected),
                           latencyMs};
        if (verbose) {
            char percent[32];
            std::snprintf(percent, sizeof percent, "%.0f%%", result.recallAt5 * 100);
            progress << "  " << (result.recallAt5 > 0 ? "\u2713" : "\u2717") << " " << query.id
                     << ": R@5=" << percent << "\n";
            progress.flush();
        }
        results.push_back(std::move(result));
    }
    return aggregate(std::move(results));
}

} // namespace orlune::core
