#pragma once
// The scores of one benchmark run: per query, per category and overall, with
// their JSON form. Plain values; every key is required when reading, and a
// missing key or a value of the wrong type throws BenchmarkMetrics::Error.

#include <cstdint>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orlune::core {

struct QueryResult {
    std::string queryId;
    std::string queryText;
    std::string category; // the category's JSON string, e.g. "multi-hop"
    std::vector<std::string> retrievedGuids;
    std::vector<std::string> expectedGuids; // as in the corpus, duplicates kept
    double recallAt1 = 0;
    double recallAt3 = 0;
    double recallAt5 = 0;
    double precisionAt1 = 0;
    double precisionAt3 = 0;
    double precisionAt5 = 0;
    double reciprocalRank = 0;
    double latencyMs = 0;

    static QueryResult fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const QueryResult&, const QueryResult&) = default;
};

struct CategoryMetrics {
    int64_t queryCount = 0;
    double recallAt5 = 0;
    double precisionAt3 = 0;
    double mrr = 0;

    static CategoryMetrics fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const CategoryMetrics&, const CategoryMetrics&) = default;
};

struct BenchmarkMetrics {
    class Error : public std::exception {
    public:
        explicit Error(std::string message) : message_(std::move(message)) {}
        const char* what() const noexcept override { return message_.c_str(); }

    private:
        std::string message_;
    };

    double recallAt1 = 0;
    double recallAt3 = 0;
    double recallAt5 = 0;
    double precisionAt1 = 0;
    double precisionAt3 = 0;
    double precisionAt5 = 0;
    double mrr = 0;
    int64_t queryCount = 0;
    double latencyP50Ms = 0;
    double latencyP95Ms = 0;
    std::vector<QueryResult> perQueryResults;                  // in query order
    std::map<std::string, CategoryMetrics> perCategoryMetrics; // categories with a query

    static BenchmarkMetrics fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const BenchmarkMetrics&, const BenchmarkMetrics&) = default;
};

} // namespace orlune::core
