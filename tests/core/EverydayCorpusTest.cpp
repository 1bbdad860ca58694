#include "benchmark/BenchmarkCorpus.hpp"

#include <gtest/gtest.h>
#include <set>

namespace orlune::core {
namespace {

// The corpus shipped in bench/corpora must stay loadable and consistent: every
// expected guid names one of its messages, and every category is exercised.
TEST(ShippedCorpus, EverydayCorpusIsConsistent) {
    auto corpus =
        BenchmarkCorpus::load(std::string(ORLUNE_SOURCE_DIR) + "/bench/corpora/everyday.json");
    EXPECT_GE(corpus.messages.size(), 300u);
    EXPECT_GE(corpus.queries.size(), 60u);
    std::set<std::string> guids;
    for (const auto& message : corpus.messages) {
        EXPECT_TRUE(guids.insert(message.guid).second) << "duplicate guid " << message.guid;
    }
    std::set<QueryCategory> categories;
    for (const auto& query : corpus.queries) {
        categories.insert(query.category);
        for (const auto& guid : query.expectedGuids) {
            EXPECT_TRUE(guids.count(guid)) << query.id << " expects unknown " << guid;
        }
    }
    EXPECT_EQ(categories.size(), 5u);
}

} // namespace
} // namespace orlune::core
