#include "benchmark/BenchmarkRunner.hpp"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <stdexcept>

namespace orlune::core {

// Reaches the runner's private scoring operations.
struct BenchmarkRunnerScoring {
    static double recall(const std::vector<std::string>& r, const std::set<std::string>& e, int k) {
        return BenchmarkRunner::calculateRecall(r, e, k);
    }
    static double precision(const std::vector<std::string>& r, const std::set<std::string>& e,
                            int k) {
        return BenchmarkRunner::calculatePrecision(r, e, k);
    }
    static double rr(const std::vector<std::string>& r, const std::set<std::string>& e) {
        return BenchmarkRunner::calculateReciprocalRank(r, e);
    }
    static double percentile(const std::vector<double>& v, double p) {
        return BenchmarkRunner::percentile(v, p);
    }
    static BenchmarkMetrics aggregate(std::vector<QueryResult> results) {
        return BenchmarkRunner::aggregate(std::move(results));
    }
};

namespace {

using S = BenchmarkRunnerScoring;

TEST(BenchmarkScoring, PerQueryScores) {
    struct Case {
        std::vector<std::string> retrieved;
        std::set<std::string> expected;
        double recall[3];
        double precision[3];
        double rr;
    };
    const Case cases[] = {
        {{"a", "b", "c", "d", "e"}, {"c"}, {0, 1, 1}, {0, 1.0 / 3, 1.0 / 5}, 1.0 / 3},
        {{"a", "b"}, {"b", "x"}, {0, 0.5, 0.5}, {0, 0.5, 0.5}, 0.5},
        {{"a"}, {}, {1, 1, 1}, {0, 0, 0}, 0},
        {{}, {}, {1, 1, 1}, {0, 0, 0}, 0},
        {{}, {"a"}, {0, 0, 0}, {0, 0, 0}, 0},
        {{"a", "b", "c"}, {"a", "c"}, {0.5, 1, 1}, {1, 2.0 / 3, 2.0 / 3}, 1},
    };
    const int ks[3] = {1, 3, 5};
    for (const auto& c : cases) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_DOUBLE_EQ(S::recall(c.retrieved, c.expected, ks[i]), c.recall[i]);
            EXPECT_DOUBLE_EQ(S::precision(c.retrieved, c.expected, ks[i]), c.precision[i]);
        }
        EXPECT_DOUBLE_EQ(S::rr(c.retrieved, c.expected), c.rr);
    }
}

TEST(BenchmarkScoring, PercentileTakesTheLowerIndex) {
    EXPECT_EQ(S::percentile({}, 0.5), 0.0);
    EXPECT_EQ(S::percentile({7}, 0.95), 7.0);
    EXPECT_EQ(S::percentile({10, 30}, 0.5), 10.0);
    EXPECT_EQ(S::percentile({10, 30}, 0.95), 10.0);
    std::vector<double> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(S::percentile(ten, 0.5), 5.0);
    EXPECT_EQ(S::percentile(ten, 0.95), 9.0);
    std::vector<double> hundred;
    for (int i = 0; i < 100; ++i) {
        hundred.push_back(i);
    }
    EXPECT_EQ(S::percentile(hundred, 0.5), 49.0);
    EXPECT_EQ(S::percentile(hundred, 0.95), 94.0);
}

QueryResult scored(std::string id, std::string category, double r5, double p3, double rr,
                   double latency) {
    return QueryResult{id, "t", category, {}, {}, 0, 0, r5, 0, p3, 0, rr, latency};
}

TEST(BenchmarkScoring, AggregateMeansPercentilesAndCategories) {
    auto metrics = S::aggregate({scored("q1", "keyword", 1, 1.0 / 3, 1, 30),
                                 scored("q2", "temporal", 0, 0, 0, 10),
                                 scored("q3", "keyword", 0.5, 0, 0.5, 20)});
    EXPECT_EQ(metrics.queryCount, 3);
    EXPECT_DOUBLE_EQ(metrics.recallAt5, 0.5);
    EXPECT_DOUBLE_EQ(metrics.mrr, 0.5);
    EXPECT_EQ(metrics.latencyP50Ms, 20);
    EXPECT_EQ(metrics.latencyP95Ms, 20);
    ASSERT_EQ(metrics.perCategoryMetrics.size(), 2u);
    const auto& keyword = metrics.perCategoryMetrics.at("keyword");
    EXPECT_EQ(keyword.queryCount, 2);
    EXPECT_DOUBLE_EQ(keyword.recallAt5, 0.75);
    EXPECT_DOUBLE_EQ(keyword.precisionAt3, 1.0 / 6);
    EXPECT_DOUBLE_EQ(keyword.mrr, 0.75);
    EXPECT_EQ(metrics.perQueryResults[1].queryId, "q2");

    auto empty = S::aggregate({});
    EXPECT_EQ(empty, BenchmarkMetrics{});
}

TEST(BenchmarkMetricsJson, RoundTripsAndEveryKeyIsRequired) {
    auto metrics = S::aggregate({scored("q1", "keyword", 1, 1, 1, 3.5)});
    auto json = metrics.toJson();
    EXPECT_EQ(BenchmarkMetrics::fromJson(nlohmann::ordered_json::parse(json.dump())), metrics);
    for (const auto& [key, value] : json.items()) {
        auto copy = json;
        copy.erase(key);
        EXPECT_THROW(BenchmarkMetrics::fromJson(copy), BenchmarkMetrics::Error) << key;
    }
    for (const auto& [key, value] : json["per_query_results"][0].items()) {
        auto copy = json;
        copy["per_query_results"][0].erase(key);
        EXPECT_THROW(BenchmarkMetrics::fromJson(copy), BenchmarkMetrics::Error) << key;
    }
    auto copy = json;
    copy["per_category_metrics"]["keyword"].erase("mrr");
    EXPECT_THROW(BenchmarkMetrics::fromJson(copy), BenchmarkMetrics::Error);
}

// An engine whose answers are scripted per query text.
class ScriptedBackend : public SearchBackend {
public:
    std::map<std::string, std::vector<std::string>> answers;
    std::vector<std::string> ingested;
    int failOnCall = -1;
    int calls = 0;
    int limitSeen = 0;

    const std::string& name() const override { return name_; }
    std::vector<std::string> search(const std::string& query, int limit) override {
        limitSeen = limit;
        if (++calls == failOnCall) {
            throw std::runtime_error("engine broke");
        }
        auto found = answers.find(query);
        return found == answers.end() ? std::vector<std::string>{} : found->second;
    }
    void ingest(const std::vector<ShadowMessage>& messages) override {
        for (const auto& m : messages) {
            ingested.push_back(m.guid());
        }
    }
    void reset() override { ADD_FAILURE() << "the runner never resets"; }

private:
    std::string name_ = "scripted";
};

BenchmarkCorpus corpusWith(std::vector<CorpusQuery> queries) {
    BenchmarkCorpus corpus;
    corpus.version = "test";
    corpus.messages = {CorpusMessage{"m1", "c", std::nullopt, "me", "one", 1, true, false, {}, {}},
                       CorpusMessage{"m2", "c", "Chat", "bob", "two", 2, false, true, {}, {}}};
    corpus.queries = std::move(queries);
    return corpus;
}

CorpusQuery query(std::string id, std::string text, QueryCategory category,
                  std::vector<std::string> expected) {
    return CorpusQuery{id,           text,         category,    std::nullopt, std::move(expected),
                       std::nullopt, std::nullopt, std::nullopt};
}

TEST(BenchmarkRunnerRun, ScoresQueriesAndPrintsOneLineEach) {
    auto backend = std::make_shared<ScriptedBackend>();
    backend->answers["found"] = {"x", "m2", "m1"};
    BenchmarkRunner runner(
        backend, corpusWith({query("q1", "found", QueryCategory::keyword, {"m1", "m2", "m9"}),
                             query("q2", "missed", QueryCategory::temporal, {"m1"}),
                             query("q3", "empty", QueryCategory::negation, {})}));
    std::ostringstream out;
    auto metrics = runner.run(true, out);
    EXPECT_EQ(out.str(), "  \u2713 q1: R@5=67%\n  \u2717 q2: R@5=0%\n  \u2713 q3: R@5=100%\n");
    EXPECT_EQ(backend->ingested, (std::vector<std::string>{"m1", "m2"}));
    EXPECT_EQ(backend->limitSeen, 5);
    EXPECT_EQ(metrics.queryCount, 3);
    EXPECT_EQ(metrics.perQueryResults[0].retrievedGuids,
              (std::vector<std::string>{"x", "m2", "m1"}));
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[0].reciprocalRank, 0.5);
    EXPECT_EQ(metrics.perQueryResults[0].category, "keyword");
    EXPECT_EQ(metrics.perCategoryMetrics.size(), 3u);

    std::ostringstream quiet;
    runner.run(false, quiet);
    EXPECT_EQ(quiet.str(), "");
}

// An engine that reads questions is asked each query's question, else its
// text; results record what was asked.
TEST(BenchmarkRunnerRun, QuestionsGoToEnginesThatReadThem) {
    auto backend = std::make_shared<ScriptedBackend>();
    backend->answers["what did Bob say?"] = {"m2"};
    backend->answers["two"] = {"m1"};
    backend->answers["one"] = {"m1"};
    CorpusQuery asked = query("q1", "two", QueryCategory::person, {"m2"});
    asked.question = "what did Bob say?";
    const auto corpus = corpusWith({asked, query("q2", "one", QueryCategory::keyword, {"m1"})});

    std::ostringstream out;
    auto metrics = BenchmarkRunner(backend, corpus, true).run(false, out);
    EXPECT_EQ(metrics.perQueryResults[0].queryText, "what did Bob say?");
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[0].reciprocalRank, 1.0);
    EXPECT_EQ(metrics.perQueryResults[1].queryText, "one");
    EXPECT_DOUBLE_EQ(metrics.mrr, 1.0);

    metrics = BenchmarkRunner(backend, corpus).run(false, out);
    EXPECT_EQ(metrics.perQueryResults[0].queryText, "two");
    EXPECT_DOUBLE_EQ(metrics.perQueryResults[0].reciprocalRank, 0.0);
    EXPECT_DOUBLE_EQ(metrics.mrr, 0.5);
}

TEST(BenchmarkRunnerRun, NoQueriesIngestsAndReturnsZeros) {
    auto backend = std::make_shared<ScriptedBackend>();
    BenchmarkRunner runner(backend, corpusWith({}));
    std::ostringstream out;
    EXPECT_EQ(runner.run(true, out), BenchmarkMetrics{});
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(backend->ingested.size(), 2u);
}

TEST(BenchmarkRunnerRun, AnEngineFailureEndsTheRunAfterTheLinesPrinted) {
    auto backend = std::make_shared<ScriptedBackend>();
    backend->failOnCall = 3;
    BenchmarkRunner runner(backend, corpusWith({query("q1", "a", QueryCategory::keyword, {}),
                                                query("q2", "b", QueryCategory::keyword, {"m1"}),
                                                query("q3", "c", QueryCategory::keyword, {}),
                                                query("q4", "d", QueryCategory::keyword, {})}));
    std::ostringstream out;
    EXPECT_THROW(runner.run(true, out), std::runtime_error);
    EXPECT_EQ(out.str(), "  \u2713 q1: R@5=100%\n  \u2717 q2: R@5=0%\n");
}

} // namespace
} // namespace orlune::core
