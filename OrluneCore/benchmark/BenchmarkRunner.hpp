#pragma once
// Measures a search engine against a benchmark corpus: ingests the corpus's
// messages, runs every query (at most 5 results each), times and scores it.

#include "benchmark/BenchmarkCorpus.hpp"
#include "benchmark/BenchmarkMetrics.hpp"
#include "benchmark/SearchBackend.hpp"

#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orlune::core {

class BenchmarkRunner {
public:
    // Holds the engine (shared; released with the runner) and the corpus.
    // Does nothing else.
    BenchmarkRunner(std::shared_ptr<SearchBackend> backend, BenchmarkCorpus corpus);
    // With `askQuestions`, each query's question (its text when it has none)
    // is what the engine searches and what the results record.
    BenchmarkRunner(std::shared_ptr<SearchBackend> backend, BenchmarkCorpus corpus,
                    bool askQuestions);

    // One run on the calling thread: ingest every corpus message in one call
    // (the engine is not reset first), then search each query in corpus order
    // and score it. With `verbose`, prints one line per scored query to
    // standard output ("  ✓ q7: R@5=67%"; ✗ when nothing expected was found).
    // An error from the engine ends the run and is thrown unchanged; lines
    // already printed stay.
    BenchmarkMetrics run(bool verbose) const;
    // As run(verbose), printing the progress lines to `progress`.
    BenchmarkMetrics run(bool verbose, std::ostream& progress) const;

    // The scores of `results` taken together: means over the queries, per
    // category and overall, and latency percentiles. Empty for no results.
    static BenchmarkMetrics aggregate(std::vector<QueryResult> results);

private:
    friend struct BenchmarkRunnerScoring;

    static double calculateRecall(const std::vector<std::string>& retrieved,
                                  const std::set<std::string>& expected, int k);
    static double calculatePrecision(const std::vector<std::string>& retrieved,
                                     const std::set<std::string>& expected, int k);
    static double calculateReciprocalRank(const std::vector<std::string>& retrieved,
                                          const std::set<std::string>& expected);
    // `values` sorted ascending; the element at floor((count - 1) * p).
    static double percentile(const std::vector<double>& values, double p);

    const std::shared_ptr<SearchBackend> backend_;
    const BenchmarkCorpus corpus_;
    const bool askQuestions_ = false;
};

} // namespace orlune::core
