#pragma once
// The state behind the search by meaning: after each sync, when a model
// server is set, one background run gives the messages without a vector one
// (core::MessageEmbedder), with its progress and its last failure. Questions
// never wait for it.

#include "base/EmbeddingGateway.hpp"
#include "services/ModelServer.hpp"
#include "services/StructuredLogger.hpp"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace orlune::rlm {

// Lives on the GUI thread and must be used only there. Each published field
// has a NOTIFY signal without arguments, emitted after it changed. Events go
// to the log with category "shadow-sync": "embedding_complete" {"embedded",
// "embeddable"} and "embedding_failed" {"error"} (warning). Nothing here
// throws. A run works on its own connection on the global thread pool; if
// the model goes first, the run stops after its batch and its outcome is
// dropped.
class EmbeddingViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEmbedding READ isEmbedding NOTIFY progressChanged)
    // Messages with a vector and messages with text, as the run last said;
    // 0 and 0 before one.
    Q_PROPERTY(qint64 embedded READ embedded NOTIFY progressChanged)
    Q_PROPERTY(qint64 embeddable READ embeddable NOTIFY progressChanged)
    // Why the last run stopped early; empty when it finished (or none ran).
    Q_PROPERTY(QString lastError READ lastError NOTIFY progressChanged)

public:
    struct Seams {
        // The model server to embed with, asked on the GUI thread at each
        // run; absent: nothing runs. Must not throw.
        std::function<std::optional<ModelServer::EmbeddingSource>()> source;
        // Makes the client for a source; core::CurlEmbeddingGateway when
        // empty.
        std::function<std::unique_ptr<core::EmbeddingGateway>(const ModelServer::EmbeddingSource&)>
            makeGateway;
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kShadowSyncCategory};
    };

    explicit EmbeddingViewModel(Seams seams, QObject* parent = nullptr);
    ~EmbeddingViewModel() override;

    bool isEmbedding() const { return isEmbedding_; }
    qint64 embedded() const { return embedded_; }
    qint64 embeddable() const { return embeddable_; }
    const QString& lastError() const { return lastError_; }

    // Starts a run over the shadow database at `shadowDBPath` when a model
    // server is set and returns at once; while one runs, another follows it.
    void embedIfPossible(const QString& shadowDBPath);

    // The line the sync status shows: "Search by meaning: 1,200 of 5,000
    // messages" while a run works, the failure after one that stopped
    // early, and empty otherwise.
    QString statusText() const;

signals:
    void progressChanged();

private:
    struct Run;
    void publish();
    void finish(const QString& error);

    Seams seams_;
    std::shared_ptr<Run> run_;
    QString again_;
    bool isEmbedding_ = false;
    qint64 embedded_ = 0;
    qint64 embeddable_ = 0;
    QString lastError_;
    QTimer progressTimer_;
};

} // namespace orlune::rlm
