#include "sync/MessageEmbedder.hpp"

#include "base/Utf8.hpp"

#include <stdexcept>

namespace orlune::core {

namespace {

// Sent to learn the length of the server's vectors.
constexpr std::string_view kProbeText = "hello";

} // namespace

MessageEmbedder::MessageEmbedder(ShadowDB& db, EmbeddingGateway& gateway, std::string model,
                                 Options options)
    : db_(db), gateway_(gateway), model_(std::move(model)), options_(options) {}

VectorProgress MessageEmbedder::run(const Progress& progress, const std::function<bool()>& stop) {
    ShadowVectors& vectors = db_.vectors();
    if (const std::optional<VectorModel> stored = vectors.model();
        stored && stored->model != model_) {
        vectors.clear();
    }
    if (const std::optional<VectorModel> stored = vectors.model();
        stored && vectors.textsToEmbed(0, 1).empty()) {
        // Nothing to embed would show whether the server now gives vectors of
        // another length: one short text does.
        const std::vector<std::vector<float>> probe =
            gateway_.embed(model_, {std::string(kProbeText)}, options_.timeout);
        if (probe.size() != 1 || probe[0].size() != static_cast<size_t>(stored->dimension)) {
            vectors.clear();
        }
    }
    VectorProgress done = vectors.progress();
    if (progress) {
        progress(done);
    }
    int64_t after = 0;
    while (!(stop && stop())) {
        const std::vector<TextToEmbed> batch = vectors.textsToEmbed(after, options_.batchSize);
        if (batch.empty()) {
            break;
        }
        std::vector<std::string> texts;
        texts.reserve(batch.size());
        for (const TextToEmbed& message : batch) {
            texts.emplace_back(utf8::prefixWithin(message.text, options_.maxTextBytes));
        }
        const std::vector<std::vector<float>> made =
            gateway_.embed(model_, texts, options_.timeout);
        if (made.size() != batch.size() || made.front().empty()) {
            throw EmbeddingError("The model server sent embeddings that could not be read.");
        }
        const VectorModel model{model_, static_cast<int>(made.front().size())};
        // Another dimension than the stored vectors': they all go, and the
        // run starts over from the first message.
        const bool replacing = vectors.model() != model;
        after = replacing ? 0 : batch.back().rowid;
        std::vector<EmbeddedText> embedded;
        embedded.reserve(batch.size());
        for (size_t i = 0; i < batch.size(); ++i) {
            embedded.push_back(EmbeddedText{batch[i].rowid, batch[i].text, made[i]});
        }
        size_t stored = 0;
        try {
            stored = vectors.store(model, embedded);
        } catch (const std::invalid_argument& error) {
            throw EmbeddingError(std::string("The model server sent unusable embeddings: ") +
                                 error.what() + ".");
        }
        if (replacing) {
            done = vectors.progress();
        } else {
            done.embedded += static_cast<int64_t>(stored);
        }
        if (progress) {
            progress(done);
        }
    }
    return done;
}

} // namespace orlune::core
