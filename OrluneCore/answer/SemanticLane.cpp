#include "answer/SemanticLane.hpp"

#include <algorithm>
#include <unordered_map>

namespace orlune::core {

std::vector<RankedMessage> fuseVectorHits(std::vector<RankedMessage> wordRanking,
                                          std::vector<SearchResult> vectorHits, size_t limit) {
    std::unordered_map<std::string, size_t> byGuid;
    for (size_t i = 0; i < wordRanking.size(); ++i) {
        byGuid.emplace(wordRanking[i].message.guid, i);
    }
    for (size_t rank = 1; rank <= vectorHits.size(); ++rank) {
        const double worth = kVectorHitWeight / (kFusionConstant + static_cast<double>(rank));
        SearchResult& hit = vectorHits[rank - 1];
        auto [at, added] = byGuid.try_emplace(hit.guid, wordRanking.size());
        if (added) {
            wordRanking.push_back(RankedMessage{std::move(hit), worth, 0});
        } else {
            wordRanking[at->second].score += worth;
        }
    }
    std::stable_sort(
        wordRanking.begin(), wordRanking.end(),
        [](const RankedMessage& a, const RankedMessage& b) { return a.score > b.score; });
    if (wordRanking.size() > limit) {
        wordRanking.resize(limit);
    }
    return wordRanking;
}

SemanticSearch::Outcome SemanticSearch::nearest(std::string_view question, const VectorScope& scope,
                                                size_t limit, const QueryBounds& bounds) {
    Outcome outcome;
    const std::optional<VectorModel> model = db_.vectors().model();
    if (!model || limit == 0) {
        return outcome;
    }
    std::vector<std::vector<float>> vectors;
    try {
        vectors = gateway_.embed(model->model, {std::string(question)}, timeout_);
    } catch (const EmbeddingError& error) {
        outcome.note = std::string("searched by words alone: ") + error.what();
        return outcome;
    }
    if (vectors.size() != 1 || vectors[0].size() != static_cast<size_t>(model->dimension)) {
        outcome.note = "searched by words alone: the model server's vectors no longer have the "
                       "stored vectors' length; run `orlune embed` to make them again";
        return outcome;
    }
    float nearestSimilarity = -1;
    std::unordered_map<std::string, std::string> titles;
    for (const ChatTitleRow& chat : db_.chats()) {
        titles.emplace(chat.chatId, chat.title);
    }
    for (const VectorHit& hit : db_.vectors().nearest(vectors[0], limit, scope)) {
        if (hit.similarity <= 0 || hit.similarity < nearestSimilarity - kSimilarityBand) {
            break;
        }
        nearestSimilarity = std::max(nearestSimilarity, hit.similarity);
        std::optional<SearchResult> message = db_.messageContext(hit.guid, 0, 0, bounds).message;
        if (!message) {
            continue;
        }
        message->senderName = message->isFromMe ? std::nullopt : db_.nameOfHandle(message->sender);
        const auto title = titles.find(message->chatId);
        message->chatTitle =
            title != titles.end() ? title->second : message->chatName.value_or(message->chatId);
        outcome.messages.push_back(std::move(*message));
    }
    return outcome;
}

} // namespace orlune::core
