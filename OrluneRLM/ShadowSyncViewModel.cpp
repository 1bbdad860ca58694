#include "OrluneRLM/ShadowSyncViewModel.hpp"

#include "OrluneCore/ShadowSync.hpp"
#include "OrluneRLM/CurrentException.hpp"
#include "OrluneRLM/PropertyChange.hpp"
#include "OrluneRLM/ShadowPaths.hpp"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>
#include <optional>

namespace orlune::rlm {

struct ShadowSyncViewModel::SyncOutcome {
    bool succeeded = false;
    std::int64_t inserted = 0;
    std::int64_t count = 0;
    std::string error; // the failure's description when !succeeded
};

ShadowSyncViewModel::ShadowSyncViewModel(QObject* parent) : ShadowSyncViewModel(Seams{}, parent) {}

ShadowSyncViewModel::ShadowSyncViewModel(Seams seams, QObject* parent)
    : QObject(parent), logger_(std::move(seams.logger)) {
    try {
        shadowDBPath_ = QString::fromStdString(
            seams.resolveShadowDBPath ? seams.resolveShadowDBPath() : ShadowPaths::shadowDBPath());
    } catch (...) {
        const std::string description = describeCurrentException();
        shadowDBPath_.clear();
        lastError_ = QString::fromStdString(description);
        logger_.error("shadow_path_error", {{"error", description}});
    }
}

ShadowSyncViewModel::~ShadowSyncViewModel() = default;

void ShadowSyncViewModel::syncIfPossible() {
    if (isSyncing_ || shadowDBPath_.isEmpty()) {
        return;
    }
    setIsSyncing(true);
    setLastError({});
    const std::string path = shadowDBPath_.toStdString();
    logger_.info("shadow_sync_start", {{"shadow_db_path", path}});

    // The task owns copies of everything it uses; the watcher (a child of the
    // model) brings the outcome back to this thread, and is gone with the
    // model if the model goes first.
    auto* watcher = new QFutureWatcher<SyncOutcome>(this);
    connect(watcher, &QFutureWatcher<SyncOutcome>::finished, this, [this, watcher] {
        const SyncOutcome outcome = watcher->result();
        watcher->deleteLater();
        handleOutcome(outcome);
    });
    watcher->setFuture(QtConcurrent::run([path]() -> SyncOutcome {
        SyncOutcome outcome;
        try {
            core::ShadowSync sync(std::nullopt, path);
            outcome.inserted = sync.performSync();
            outcome.count = sync.messageCount();
            outcome.succeeded = true;
        } catch (...) {
            outcome.error = describeCurrentException();
        }
        return outcome;
    }));
}

void ShadowSyncViewModel::handleOutcome(const SyncOutcome& outcome) {
    if (outcome.succeeded) {
        assignIfChanged(messageCount_, outcome.count, [this] { emit messageCountChanged(); });
        assignIfChanged(hasSynced_, true, [this] { emit hasSyncedChanged(); });
        setIsSyncing(false);
        logger_.info("shadow_sync_complete", {{"inserted", std::to_string(outcome.inserted)},
                                              {"message_count", std::to_string(outcome.count)}});
        return;
    }
    setLastError(QString::fromStdString(outcome.error));
    setIsSyncing(false);
    logger_.warning("shadow_sync_failed", {{"error", outcome.error}});
}

void ShadowSyncViewModel::setIsSyncing(bool value) {
    assignIfChanged(isSyncing_, value, [this] { emit isSyncingChanged(); });
}

void ShadowSyncViewModel::setLastError(const QString& value) {
    assignIfChanged(lastError_, value, [this] { emit lastErrorChanged(); });
}

} // namespace orlune::rlm
