#pragma once
// The stored vectors of the messages (vector_model, message_vectors): which
// messages still need one, storing a batch, and the messages nearest to a
// question's vector.

#include "shadow/ShadowConnection.hpp"
#include "time/LocalTime.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

// The model that made the stored vectors and their length.
struct VectorModel {
    std::string model;
    int dimension = 0;
    bool operator==(const VectorModel&) const = default;
};

// A stored message that has text and no vector yet.
struct TextToEmbed {
    int64_t rowid = 0; // messages.rowid
    std::string text;
};

// The vector made from `text` of the message at `rowid`.
struct EmbeddedText {
    int64_t rowid = 0;
    std::string text;
    std::vector<float> vector;
};

struct VectorProgress {
    int64_t embedded = 0;   // messages with text that have a vector
    int64_t embeddable = 0; // messages with text
    bool operator==(const VectorProgress&) const = default;
};

// Which messages a nearest-vector search may return.
struct VectorScope {
    // Absent: anyone. Otherwise messages sent by one of these handles or in
    // one of `chatIds` (both sides of a conversation with them).
    std::optional<std::vector<std::string>> senders;
    std::vector<std::string> chatIds;
    // The instants the message's time must lie in.
    TimeRange time;
};

struct VectorHit {
    std::string guid;
    // Cosine similarity with the question, from -1 to 1.
    float similarity = 0;
};

// A table group of ShadowDBReader (reads) and ShadowDB (writes: a reader's
// connection is read-only and refuses them). Every call throws ShadowDBError
// (prepareFailed or queryFailed) when the database fails.
class ShadowVectors {
public:
    explicit ShadowVectors(ShadowConnection& connection) : connection_(connection) {}

    // The model of the stored vectors; absent when none is stored or the
    // database is older than the vector tables.
    std::optional<VectorModel> model();
    // How far embedding has come; zeros on a database without the tables.
    VectorProgress progress();
    // Up to `limit` messages after `afterRowid` (by rowid) whose text has
    // something besides spaces and that have no vector, in rowid order.
    std::vector<TextToEmbed> textsToEmbed(int64_t afterRowid, int limit);
    // Stores `vectors` (each `model.dimension` long, made by `model`) in one
    // transaction. When the stored model or dimension differ, every stored
    // vector is dropped first. A vector whose message is gone or whose text
    // changed since it was read is not stored. Throws std::invalid_argument
    // for a vector of another length or a zero vector, before writing.
    // Returns how many vectors were stored.
    size_t store(const VectorModel& model, const std::vector<EmbeddedText>& vectors);
    // Drops every vector and the model.
    void clear();

    // The `limit` messages in `scope` whose vectors are nearest to `query`
    // (any length; it is normalised), most similar first. Empty when no
    // vectors are stored or `query` has another length than they do. Reads
    // the vectors one row at a time: memory grows with `limit` only.
    std::vector<VectorHit> nearest(const std::vector<float>& query, size_t limit,
                                   const VectorScope& scope);

    // `vector` scaled to unit length and stored as one signed byte per
    // dimension worth `scale` each. Throws std::invalid_argument for a zero
    // vector or one with a non-finite value.
    struct Quantized {
        double scale = 0;
        std::string bytes;
    };
    static Quantized quantize(const std::vector<float>& vector);

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core
