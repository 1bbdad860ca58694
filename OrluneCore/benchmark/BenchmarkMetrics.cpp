#include "benchmark/BenchmarkMetrics.hpp"

namespace orlune::core {

using Json = nlohmann::ordered_json;

namespace {

[[noreturn]] void fail(const std::string& key, const std::string& what) {
    throw BenchmarkMetrics::Error("Invalid benchmark metrics: " + key + ": " + what);
}

const Json& required(const Json& json, const char* key) {
    if (!json.is_object()) {
        fail(key, "expected an object around it");
    }
    auto found = json.find(key);
    if (found == json.end() || found->is_null()) {
        fail(key, "required key is missing");
    }
    return *found;
}

double number(const Json& json, const char* key) {
    const Json& value = required(json, key);
    if (!value.is_number()) {
        fail(key, "expected a number");
    }
    return value.get<double>();
}

int64_t integer(const Json& json, const char* key) {
    const Json& value = required(json, key);
    if (!value.is_number_integer()) {
        fail(key, "expected an integer");
    }
    return value.get<int64_t>();
}

std::string string(const Json& json, const char* key) {
    const Json& value = required(json, key);
    if (!value.is_string()) {
        fail(key, "expected a string");
    }
    return value.get<std::string>();
}

std::vector<std::string> strings(const Json& json, const char* key) {
    const Json& value = required(json, key);
    if (!value.is_array()) {
        fail(key, "expected an array of strings");
    }
    std::vector<std::string> out;
    for (const auto& item : value) {
        if (!item.is_string()) {
            fail(key, "expected an array of strings");
        }
        out.push_back(item.get<std::string>());
    }
    return out;
}

// The rank scores a query and a whole run share, under the same keys.
template <typename Scores> void readRankScores(const Json& json, Scores& scores) {
    scores.recallAt1 = number(json, "recall_at_1");
    scores.recallAt3 = number(json, "recall_at_3");
    scores.recallAt5 = number(json, "recall_at_5");
    scores.precisionAt1 = number(json, "precision_at_1");
    scores.precisionAt3 = number(json, "precision_at_3");
    scores.precisionAt5 = number(json, "precision_at_5");
}

template <typename Scores> void writeRankScores(const Scores& scores, Json& json) {
    json["recall_at_1"] = scores.recallAt1;
    json["recall_at_3"] = scores.recallAt3;
    json["recall_at_5"] = scores.recallAt5;
    json["precision_at_1"] = scores.precisionAt1;
    json["precision_at_3"] = scores.precisionAt3;
    json["precision_at_5"] = scores.precisionAt5;
}

} // namespace

QueryResult QueryResult::fromJson(const Json& json) {
    QueryResult result;
    result.queryId = string(json, "query_id");
    result.queryText = string(json, "query_text");
    result.category = string(json, "category");
    result.retrievedGuids = strings(json, "retrieved_guids");
    result.expectedGuids = strings(json, "expected_guids");
    readRankScores(json, result);
    result.reciprocalRank = number(json, "reciprocal_rank");
    result.latencyMs = number(json, "latency_ms");
    return result;
}

Json QueryResult::toJson() const {
    Json json = Json::object();
    json["query_id"] = queryId;
    json["query_text"] = queryText;
    json["category"] = category;
    json["retrieved_guids"] = retrievedGuids;
    json["expected_guids"] = expectedGuids;
    writeRankScores(*this, json);
    json["reciprocal_rank"] = reciprocalRank;
    json["latency_ms"] = latencyMs;
    return json;
}

CategoryMetrics CategoryMetrics::fromJson(const Json& json) {
    return CategoryMetrics{integer(json, "query_count"), number(json, "recall_at_5"),
                           number(json, "precision_at_3"), number(json, "mrr")};
}

Json CategoryMetrics::toJson() const {
    Json json = Json::object();
    json["query_count"] = queryCount;
    json["recall_at_5"] = recallAt5;
    json["precision_at_3"] = precisionAt3;
    json["mrr"] = mrr;
    return json;
}

BenchmarkMetrics BenchmarkMetrics::fromJson(const Json& json) {
    BenchmarkMetrics metrics;
    readRankScores(json, metrics);
    metrics.mrr = number(json, "mrr");
    metrics.queryCount = integer(json, "query_count");
    metrics.latencyP50Ms = number(json, "latency_p50_ms");
    metrics.latencyP95Ms = number(json, "latency_p95_ms");
    const Json& results = required(json, "per_query_results");
    if (!results.is_array()) {
        fail("per_query_results", "expected an array");
    }
    for (const auto& result : results) {
        metrics.perQueryResults.push_back(QueryResult::fromJson(result));
    }
    const Json& categories = required(json, "per_category_metrics");
    if (!categories.is_object()) {
        fail("per_category_metrics", "expected an object");
    }
    for (const auto& [name, value] : categories.items()) {
        metrics.perCategoryMetrics[name] = CategoryMetrics::fromJson(value);
    }
    return metrics;
}

Json BenchmarkMetrics::toJson() const {
    Json json = Json::object();
    writeRankScores(*this, json);
    json["mrr"] = mrr;
    json["query_count"] = queryCount;
    json["latency_p50_ms"] = latencyP50Ms;
    json["latency_p95_ms"] = latencyP95Ms;
    Json results = Json::array();
    for (const auto& result : perQueryResults) {
        results.push_back(result.toJson());
    }
    json["per_query_results"] = std::move(results);
    Json categories = Json::object();
    for (const auto& [name, category] : perCategoryMetrics) {
        categories[name] = category.toJson();
    }
    json["per_category_metrics"] = std::move(categories);
    return json;
}

} // namespace orlune::core
