#include "shadow/ShadowVectors.hpp"

#include "time/StoreTime.hpp"

#include <algorithm>
#include <cmath>
#include <queue>
#include <stdexcept>

namespace orlune::core {

namespace {

constexpr std::string_view kSelectModel = "SELECT model, dimension FROM vector_model WHERE id = 1";
constexpr std::string_view kReplaceModel =
    "INSERT OR REPLACE INTO vector_model (id, model, dimension) VALUES (1, ?, ?)";
constexpr std::string_view kDeleteVectors = "DELETE FROM message_vectors";
constexpr std::string_view kDeleteModel = "DELETE FROM vector_model";
// What has text worth embedding: not deleted, not spaces alone.
constexpr std::string_view kEmbeddable = "deleted_at IS NULL AND trim(text) <> ''";
constexpr std::string_view kStoreVector =
    "INSERT OR REPLACE INTO message_vectors (message_rowid, scale, vector)\n"
    "SELECT rowid, ?, ? FROM messages WHERE rowid = ? AND text = ?";
constexpr std::string_view kGuidOf = "SELECT guid FROM messages WHERE rowid = ?";

// `values` as "?, ?, ..." with their texts appended to `texts`.
std::string placeholders(const std::vector<std::string>& values, std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& value : values) {
        out += out.empty() ? "?" : ", ?";
        texts.push_back(value);
    }
    return out;
}

// The SQL of a scan over the vectors in `scope`, and what it binds: texts
// first, then times.
struct ScanSql {
    std::string sql;
    std::vector<std::string> texts;
    std::vector<int64_t> times;
};

ScanSql scanSql(const VectorScope& scope) {
    ScanSql out;
    std::vector<std::string> conditions;
    if (scope.senders) {
        std::string who = "m.sender IN (" + placeholders(*scope.senders, out.texts) + ")";
        if (!scope.chatIds.empty()) {
            who += " OR m.chat_id IN (" + placeholders(scope.chatIds, out.texts) + ")";
        }
        conditions.push_back("(" + who + ")");
    }
    if (scope.time.start || scope.time.end) {
        StoreDateFilter filter = storeDateFilter("m.timestamp", scope.time);
        conditions.push_back("(" + filter.sql + ")");
        out.times = std::move(filter.parameters);
    }
    if (conditions.empty()) {
        out.sql = "SELECT message_rowid, scale, vector FROM message_vectors";
        return out;
    }
    out.sql = "SELECT v.message_rowid, v.scale, v.vector FROM message_vectors v\n"
              "JOIN messages m ON m.rowid = v.message_rowid WHERE ";
    for (size_t i = 0; i < conditions.size(); ++i) {
        out.sql += (i == 0 ? "" : " AND ") + conditions[i];
    }
    return out;
}

} // namespace

ShadowVectors::Quantized ShadowVectors::quantize(const std::vector<float>& vector) {
    double squares = 0;
    float largest = 0;
    for (float value : vector) {
        if (!std::isfinite(value)) {
            throw std::invalid_argument("a vector holds a value that is not a number");
        }
        squares += static_cast<double>(value) * value;
        largest = std::max(largest, std::fabs(value));
    }
    if (largest == 0) {
        throw std::invalid_argument("a vector is all zeros");
    }
    const double length = std::sqrt(squares);
    // The largest unit-length component maps to 127.
    const double step = largest / length / 127.0;
    Quantized out;
    out.scale = step;
    out.bytes.resize(vector.size());
    for (size_t i = 0; i < vector.size(); ++i) {
        const double units = std::round(vector[i] / length / step);
        out.bytes[i] = static_cast<char>(static_cast<int8_t>(std::clamp(units, -127.0, 127.0)));
    }
    return out;
}

std::optional<VectorModel> ShadowVectors::model() {
    if (!connection_.hasTable("vector_model")) {
        return std::nullopt;
    }
    return connection_.guarded([&]() -> std::optional<VectorModel> {
        sqlite::Statement query = connection_.db().prepare(kSelectModel);
        if (!query.step()) {
            return std::nullopt;
        }
        return VectorModel{query.columnText(0), query.columnInt(1)};
    });
}

VectorProgress ShadowVectors::progress() {
    if (!connection_.hasTable("message_vectors")) {
        return {};
    }
    return connection_.guarded([&] {
        const auto count = [&](const std::string& sql) {
            sqlite::Statement query = connection_.db().prepare(sql);
            return query.step() ? query.columnInt64(0) : 0;
        };
        VectorProgress progress;
        progress.embeddable =
            count("SELECT count(*) FROM messages WHERE " + std::string(kEmbeddable));
        progress.embedded = count("SELECT count(*) FROM message_vectors v\n"
                                  "JOIN messages m ON m.rowid = v.message_rowid\n"
                                  "WHERE m.deleted_at IS NULL AND trim(m.text) <> ''");
        return progress;
    });
}

std::vector<TextToEmbed> ShadowVectors::textsToEmbed(int64_t afterRowid, int limit) {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(
            "SELECT rowid, text FROM messages m WHERE rowid > ? AND " + std::string(kEmbeddable) +
            " AND NOT EXISTS (SELECT 1 FROM message_vectors v WHERE v.message_rowid = m.rowid)\n"
            "ORDER BY rowid LIMIT ?");
        query.bindInt64(1, afterRowid);
        query.bindInt(2, limit);
        std::vector<TextToEmbed> texts;
        while (query.step()) {
            texts.push_back(TextToEmbed{query.columnInt64(0), query.columnText(1)});
        }
        return texts;
    });
}

size_t ShadowVectors::store(const VectorModel& model, const std::vector<EmbeddedText>& vectors) {
    std::vector<Quantized> quantized;
    quantized.reserve(vectors.size());
    for (const EmbeddedText& embedded : vectors) {
        if (embedded.vector.size() != static_cast<size_t>(model.dimension)) {
            throw std::invalid_argument("a vector of " + std::to_string(embedded.vector.size()) +
                                        " values where " + std::to_string(model.dimension) +
                                        " were expected");
        }
        quantized.push_back(quantize(embedded.vector));
    }
    return connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle(), sqlite::Transaction::Mode::immediate);
        if (model != this->model()) {
            connection_.db().exec(kDeleteVectors);
            sqlite::Statement replace = connection_.db().prepare(kReplaceModel);
            replace.bindText(1, model.model);
            replace.bindInt(2, model.dimension);
            replace.run();
        }
        sqlite::Statement insert = connection_.db().prepare(kStoreVector);
        size_t stored = 0;
        for (size_t i = 0; i < vectors.size(); ++i) {
            insert.reset();
            insert.bindDouble(1, quantized[i].scale);
            insert.bindBlob(2, quantized[i].bytes);
            insert.bindInt64(3, vectors[i].rowid);
            insert.bindText(4, vectors[i].text);
            insert.run();
            stored += static_cast<size_t>(sqlite3_changes(connection_.handle()));
        }
        transaction.commit();
        return stored;
    });
}

void ShadowVectors::clear() {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle(), sqlite::Transaction::Mode::immediate);
        connection_.db().exec(kDeleteVectors);
        connection_.db().exec(kDeleteModel);
        transaction.commit();
    });
}

std::vector<VectorHit> ShadowVectors::nearest(const std::vector<float>& query, size_t limit,
                                              const VectorScope& scope) {
    const std::optional<VectorModel> stored = model();
    if (!stored || query.size() != static_cast<size_t>(stored->dimension) || limit == 0) {
        return {};
    }
    Quantized question;
    try {
        question = quantize(query);
    } catch (const std::invalid_argument&) {
        return {};
    }
    // Both sides as signed bytes: the products add up in integers, which
    // the compiler turns into vector instructions.
    std::vector<int16_t> wanted(question.bytes.size());
    std::transform(question.bytes.begin(), question.bytes.end(), wanted.begin(),
                   [](char byte) { return static_cast<int8_t>(byte); });

    return connection_.guarded([&] {
        const ScanSql scan = scanSql(scope);
        sqlite::Statement rows = connection_.db().prepare(scan.sql);
        int index = 1;
        for (const std::string& text : scan.texts) {
            rows.bindText(index++, text);
        }
        for (int64_t time : scan.times) {
            rows.bindInt64(index++, time);
        }
        // The best `limit` so far, the least similar on top.
        using Scored = std::pair<float, int64_t>;
        std::priority_queue<Scored, std::vector<Scored>, std::greater<>> best;
        const size_t dimension = wanted.size();
        while (rows.step()) {
            const auto* bytes = static_cast<const int8_t*>(sqlite3_column_blob(rows.get(), 2));
            if (static_cast<size_t>(sqlite3_column_bytes(rows.get(), 2)) != dimension ||
                bytes == nullptr) {
                continue;
            }
            int32_t dot = 0;
            for (size_t i = 0; i < dimension; ++i) {
                dot += static_cast<int32_t>(wanted[i]) * bytes[i];
            }
            const auto similarity = static_cast<float>(dot * question.scale * rows.columnDouble(1));
            if (best.size() < limit) {
                best.emplace(similarity, rows.columnInt64(0));
            } else if (similarity > best.top().first) {
                best.pop();
                best.emplace(similarity, rows.columnInt64(0));
            }
        }
        rows.finalize();
        std::vector<VectorHit> hits(best.size());
        sqlite::Statement guid = connection_.db().prepare(kGuidOf);
        for (size_t i = hits.size(); i-- > 0; best.pop()) {
            guid.reset();
            guid.bindInt64(1, best.top().second);
            hits[i].similarity = best.top().first;
            hits[i].guid = guid.step() ? guid.columnText(0) : std::string();
        }
        std::erase_if(hits, [](const VectorHit& hit) { return hit.guid.empty(); });
        return hits;
    });
}

} // namespace orlune::core
