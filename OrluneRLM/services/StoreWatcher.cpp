#include "services/StoreWatcher.hpp"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace orlune::rlm {

StoreWatcher::StoreWatcher(QString storePath, std::chrono::milliseconds debounce,
                           std::chrono::milliseconds pollInterval, QObject* parent)
    : QObject(parent), storePath_(std::move(storePath)), watcher_(new QFileSystemWatcher(this)) {
    debounce_.setSingleShot(true);
    debounce_.setInterval(debounce);
    connect(&debounce_, &QTimer::timeout, this, [this] {
        lastSignature_ = currentSignature();
        emit changed();
    });
    poll_.setInterval(pollInterval);
    connect(&poll_, &QTimer::timeout, this, &StoreWatcher::poll);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &StoreWatcher::noteChange);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &StoreWatcher::noteChange);

    const QString folder = QFileInfo(storePath_).absolutePath();
    if (QFileInfo(folder).isDir()) {
        watcher_->addPath(folder);
    }
    watchFiles();
    lastSignature_ = currentSignature();
    lastPoll_ = QDateTime::currentDateTimeUtc();
    poll_.start();
}

StoreWatcher::~StoreWatcher() = default;

StoreWatcher::Signature StoreWatcher::currentSignature() const {
    Signature signature;
    const QFileInfo store(storePath_);
    if (store.exists()) {
        signature.storeSize = store.size();
        signature.storeModified = store.lastModified().toMSecsSinceEpoch();
    }
    const QFileInfo log(storePath_ + QStringLiteral("-wal"));
    if (log.exists()) {
        signature.logSize = log.size();
        signature.logModified = log.lastModified().toMSecsSinceEpoch();
    }
    return signature;
}

void StoreWatcher::watchFiles() {
    // A file replaced or deleted drops out of the watch; it is added again
    // whenever it exists.
    const QStringList watched = watcher_->files();
    for (const QString& path : {storePath_, storePath_ + QStringLiteral("-wal")}) {
        if (!watched.contains(path) && QFileInfo::exists(path)) {
            watcher_->addPath(path);
        }
    }
}

void StoreWatcher::noteChange() {
    watchFiles();
    // A change of another file in the folder (the -shm, a journal) moves
    // neither signature; it is ignored so that readers do not wake the index.
    if (currentSignature() == lastSignature_ && !debounce_.isActive()) {
        return;
    }
    debounce_.start();
}

void StoreWatcher::poll() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool slept = lastPoll_.msecsTo(now) > 3 * poll_.interval();
    lastPoll_ = now;
    watchFiles();
    if (slept || currentSignature() != lastSignature_) {
        debounce_.start();
    }
}

} // namespace orlune::rlm
