#pragma once
// The semantic lane of the answer engine: the messages whose stored vectors
// (ShadowVectors) lie nearest to the question's, and how they join the
// messages the words found. It only runs when vectors are stored; without
// them every answer is the words' alone.

#include "answer/AnswerRanking.hpp"
#include "base/EmbeddingGateway.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/QueryBounds.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// How much a vector hit's rank counts against a word search's (weight 1 and
// more): half, so that a message the words found ranks above one found by
// meaning alone at the same rank, and a message found both ways above both.
inline constexpr double kVectorHitWeight = 0.5;

// `wordRanking` (fused word hits, best first, as fuseRankings gives them)
// with `vectorHits` (nearest first) fused in by reciprocal rank at
// kVectorHitWeight: a message in both gains the vector rank's worth, a
// message only near in meaning joins with it alone. At most `limit`
// messages, each once (by guid), best first, ties in the words' order. Pure.
std::vector<RankedMessage> fuseVectorHits(std::vector<RankedMessage> wordRanking,
                                          std::vector<SearchResult> vectorHits, size_t limit);

// How much less similar to the question than the nearest message a vector
// hit may be: farther ones share little more than being messages at all.
inline constexpr float kSimilarityBand = 0.2F;

// Finds the messages nearest in meaning to a question: one request to the
// model server for the question's vector, with the model the stored vectors
// were made with, then a scan of the stored vectors. Only the hits within
// kSimilarityBand of the nearest one count. Not thread-safe; uses
// `db` and `gateway`, which must outlive it.
class SemanticSearch {
public:
    // The question's vector may take `timeout` before the words answer
    // alone.
    SemanticSearch(ShadowDBReader& db, EmbeddingGateway& gateway, std::chrono::milliseconds timeout)
        : db_(db), gateway_(gateway), timeout_(timeout) {}

    struct Outcome {
        // Nearest first; sender names and chat titles filled in.
        std::vector<SearchResult> messages;
        // Why the lane found nothing when it was asked to look (the server
        // failed, the vectors' dimension differs); empty otherwise.
        std::string note;
    };

    // At most `limit` messages in `scope`. Finds nothing, without asking the
    // server, when no vectors are stored. Never throws for the server; throws
    // ShadowDBError when the database fails.
    Outcome nearest(std::string_view question, const VectorScope& scope, size_t limit,
                    const QueryBounds& bounds);

private:
    ShadowDBReader& db_;
    EmbeddingGateway& gateway_;
    std::chrono::milliseconds timeout_;
};

} // namespace orlune::core
