#pragma once
// Gives every stored message with text a vector of its meaning, made by the
// model server (EmbeddingGateway), a batch at a time.

#include "base/EmbeddingGateway.hpp"
#include "shadow/ShadowDB.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace orlune::core {

// One run over the messages without a vector. Each batch is stored in its
// own transaction as soon as the server answers, so a run that stops (a
// failed batch, a closed program) loses nothing and the next run goes on
// with the messages still without a vector. Vectors of another model than
// `model`, or of another length than the server now gives, are dropped and
// made again (a run with nothing to embed sends one short text to learn the
// length). Runs on the calling thread; uses `db` and `gateway`, which
// must outlive it.
class MessageEmbedder {
public:
    struct Options {
        // Texts sent in one request.
        int batchSize = 64;
        // How long one request may take.
        std::chrono::milliseconds timeout{std::chrono::seconds(120)};
        // Longer texts are cut (at a character boundary) to this many bytes.
        size_t maxTextBytes = 4000;
    };

    MessageEmbedder(ShadowDB& db, EmbeddingGateway& gateway, std::string model)
        : MessageEmbedder(db, gateway, std::move(model), Options{}) {}
    MessageEmbedder(ShadowDB& db, EmbeddingGateway& gateway, std::string model, Options options);

    // Called after each stored batch (and once before the first) with how far
    // embedding has come.
    using Progress = std::function<void(const VectorProgress&)>;

    // Embeds every message that needs it and returns how far embedding came.
    // `stop`, when given and true between batches, ends the run early.
    // Throws EmbeddingError when the server fails (the batches before stay
    // stored) and ShadowDBError when the database does.
    VectorProgress run(const Progress& progress = nullptr,
                       const std::function<bool()>& stop = nullptr);

private:
    ShadowDB& db_;
    EmbeddingGateway& gateway_;
    std::string model_;
    Options options_;
};

} // namespace orlune::core
