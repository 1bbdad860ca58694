#include "models/EmbeddingViewModel.hpp"

#include "models/PropertyChange.hpp"
#include "services/CurrentException.hpp"
#include "shadow/ShadowDB.hpp"
#include "sync/CurlEmbeddingGateway.hpp"
#include "sync/MessageEmbedder.hpp"

#include <QFutureWatcher>
#include <QLocale>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>

namespace orlune::rlm {

namespace {

// How often the progress of a running run is published.
constexpr int kProgressPeriodMs = 500;

QString count(qint64 value) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(value);
}

} // namespace

// Shared by the task (writes) and the GUI thread (reads).
struct EmbeddingViewModel::Run {
    std::atomic<std::int64_t> embedded{0};
    std::atomic<std::int64_t> embeddable{0};
    std::atomic<bool> stop{false};
};

EmbeddingViewModel::EmbeddingViewModel(Seams seams, QObject* parent)
    : QObject(parent), seams_(std::move(seams)) {
    if (!seams_.makeGateway) {
        seams_.makeGateway = [](const ModelServer::EmbeddingSource& source) {
            return std::make_unique<core::CurlEmbeddingGateway>(source.baseUrl, source.apiKey);
        };
    }
    progressTimer_.setInterval(kProgressPeriodMs);
    connect(&progressTimer_, &QTimer::timeout, this, &EmbeddingViewModel::publish);
}

EmbeddingViewModel::~EmbeddingViewModel() {
    if (run_) {
        run_->stop = true;
    }
}

void EmbeddingViewModel::embedIfPossible(const QString& shadowDBPath) {
    if (shadowDBPath.isEmpty()) {
        return;
    }
    if (run_) {
        again_ = shadowDBPath;
        return;
    }
    const std::optional<ModelServer::EmbeddingSource> source =
        seams_.source ? seams_.source() : std::nullopt;
    if (!source) {
        return;
    }
    run_ = std::make_shared<Run>();
    assignIfChanged(isEmbedding_, true, [this] { emit progressChanged(); });
    progressTimer_.start();
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher] {
        const QString error = watcher->result();
        watcher->deleteLater();
        finish(error);
    });
    std::shared_ptr<core::EmbeddingGateway> gateway = seams_.makeGateway(*source);
    watcher->setFuture(QtConcurrent::run([path = shadowDBPath.toStdString(), model = source->model,
                                          gateway, run = run_]() -> QString {
        try {
            core::ShadowDB db(path);
            db.createSchemaIfNeeded();
            core::MessageEmbedder(db, *gateway, model)
                .run(
                    [run](const core::VectorProgress& progress) {
                        run->embedded = progress.embedded;
                        run->embeddable = progress.embeddable;
                    },
                    [run] { return run->stop.load(); });
            return {};
        } catch (...) {
            return QString::fromStdString(describeCurrentException());
        }
    }));
}

QString EmbeddingViewModel::statusText() const {
    if (isEmbedding_ && embeddable_ > 0 && embedded_ < embeddable_) {
        return QStringLiteral("Search by meaning: %1 of %2 messages")
            .arg(count(embedded_), count(embeddable_));
    }
    if (!isEmbedding_ && !lastError_.isEmpty()) {
        return QStringLiteral("Search by meaning paused: ") + lastError_;
    }
    return {};
}

void EmbeddingViewModel::publish() {
    if (!run_) {
        return;
    }
    const qint64 embedded = run_->embedded;
    const qint64 embeddable = run_->embeddable;
    if (embedded != embedded_ || embeddable != embeddable_) {
        embedded_ = embedded;
        embeddable_ = embeddable;
        emit progressChanged();
    }
}

void EmbeddingViewModel::finish(const QString& error) {
    publish();
    progressTimer_.stop();
    run_.reset();
    lastError_ = error;
    isEmbedding_ = false;
    emit progressChanged();
    if (error.isEmpty()) {
        seams_.logger.info("embedding_complete", {{"embedded", std::to_string(embedded_)},
                                                  {"embeddable", std::to_string(embeddable_)}});
    } else {
        seams_.logger.warning("embedding_failed", {{"error", error.toStdString()}});
    }
    if (!again_.isEmpty()) {
        const QString path = std::exchange(again_, QString());
        embedIfPossible(path);
    }
}

} // namespace orlune::rlm
