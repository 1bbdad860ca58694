#include "models/ShadowSyncViewModel.hpp"

#include "answer/CoverageText.hpp"
#include "base/ThreadCrypto.hpp"
#include "models/PropertyChange.hpp"
#include "services/CurrentException.hpp"
#include "services/ShadowPaths.hpp"
#include "services/StoreWatcher.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "store/ChatDBReader.hpp"
#include "sync/ShadowSync.hpp"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <exception>
#include <optional>

namespace orlune::rlm {

namespace {

// How often the progress of a running sync is published.
constexpr int kProgressPeriodMs = 250;

} // namespace

struct ShadowSyncViewModel::SyncOutcome {
    bool succeeded = false;
    bool storeMissing = false;
    std::int64_t inserted = 0;
    std::int64_t count = 0;
    std::string error; // the failure's description when !succeeded
    std::vector<std::string> contactWarnings;
    std::vector<std::string> notes; // ShadowSync::passNotes
    std::optional<core::MessageTimeSpan> span;
};

// Written by the sync task, read by the GUI thread's progress timer.
struct ShadowSyncViewModel::Progress {
    std::atomic<std::int64_t> existing{-1}; // the shadow database's count before the pass
    std::atomic<std::int64_t> total{0};     // the store's rows; 0 when not counted
    std::atomic<std::int64_t> rowsRead{0};  // rows read by this pass
};

ShadowSyncViewModel::ShadowSyncViewModel(QObject* parent) : ShadowSyncViewModel(Seams{}, parent) {}

ShadowSyncViewModel::ShadowSyncViewModel(Seams seams, QObject* parent)
    : QObject(parent), logger_(std::move(seams.logger)),
      contactFiles_(std::move(seams.contactFiles)), excludedChats_(std::move(seams.excludedChats)),
      debounce_(seams.debounce.count() > 0 ? seams.debounce : StoreWatcher::kDefaultDebounce),
      pollInterval_(seams.pollInterval.count() > 0 ? seams.pollInterval
                                                   : StoreWatcher::kDefaultPollInterval),
      firstRetryDelay_(seams.firstRetryDelay.count() > 0 ? seams.firstRetryDelay
                                                         : kDefaultFirstRetryDelay) {
    try {
        chatDBPath_ = QString::fromStdString(seams.resolveChatDBPath
                                                 ? seams.resolveChatDBPath()
                                                 : core::ChatDBReader::defaultChatDBPath());
    } catch (...) {
        chatDBPath_.clear();
    }
    try {
        shadowDBPath_ =
            QString::fromStdString(seams.resolveShadowDBPath ? seams.resolveShadowDBPath()
                                                             : ShadowPaths::preparedShadowDBPath());
    } catch (...) {
        const std::string description = describeCurrentException();
        shadowDBPath_.clear();
        lastError_ = QString::fromStdString(description);
        logger_.error("shadow_path_error", {{"error", description}});
    }
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &ShadowSyncViewModel::syncIfPossible);
    progressTimer_.setInterval(kProgressPeriodMs);
    connect(&progressTimer_, &QTimer::timeout, this, &ShadowSyncViewModel::publishProgress);
}

ShadowSyncViewModel::~ShadowSyncViewModel() = default;

QString ShadowSyncViewModel::missingStoreText(const QString& chatDBPath) {
    const QString path = chatDBPath.isEmpty() ? QStringLiteral("(no path)") : chatDBPath;
#ifdef Q_OS_MACOS
    return QStringLiteral("No Messages history found at %1. Choose your chat.db, or a copy of it.")
        .arg(path);
#else
    return QStringLiteral("No message store found at %1. Choose a copy of chat.db, or set "
                          "CHAT_DB_PATH to one.")
        .arg(path);
#endif
}

void ShadowSyncViewModel::setChatDBPath(const QString& chatDBPath) {
    if (chatDBPath.isEmpty()) {
        return;
    }
    chatDBPath_ = chatDBPath;
    logger_.info("shadow_store_chosen", {{"chat_db_path", chatDBPath_.toStdString()}});
    if (watcher_) {
        delete watcher_;
        watcher_ = new StoreWatcher(chatDBPath_, debounce_, pollInterval_, this);
        connect(watcher_, &StoreWatcher::changed, this, &ShadowSyncViewModel::syncIfPossible);
    }
    failuresInARow_ = 0;
    syncIfPossible();
}

void ShadowSyncViewModel::startLiveIndex() {
    if (watcher_ || shadowDBPath_.isEmpty()) {
        return;
    }
    if (!chatDBPath_.isEmpty()) {
        watcher_ = new StoreWatcher(chatDBPath_, debounce_, pollInterval_, this);
        connect(watcher_, &StoreWatcher::changed, this, &ShadowSyncViewModel::syncIfPossible);
    }
    logger_.info("live_index_started", {{"chat_db_path", chatDBPath_.toStdString()}});
    syncIfPossible();
}

void ShadowSyncViewModel::syncIfPossible() {
    if (shadowDBPath_.isEmpty()) {
        return;
    }
    if (isSyncing_) {
        syncAgain_ = true;
        return;
    }
    syncAgain_ = false;
    retryTimer_.stop();
    nextRetryAt_ = QDateTime();
    setIsSyncing(true);
    setLastError({});
    const std::string path = shadowDBPath_.toStdString();
    const std::optional<std::string> chatPath =
        chatDBPath_.isEmpty() ? std::nullopt : std::optional(chatDBPath_.toStdString());
    logger_.info("shadow_sync_start", {{"shadow_db_path", path}});

    // Only the first pass counts the store (a full count would make every
    // pass over an unchanged store dearer) and the shadow database.
    const bool firstPass = !hasSynced_;
    std::vector<std::string> contactFiles =
        contactFiles_ ? contactFiles_() : std::vector<std::string>();
    std::optional<std::set<std::string>> excludedChats =
        excludedChats_ ? excludedChats_() : std::nullopt;
    progress_ = std::make_shared<Progress>();
    syncClock_.start();
    progressTimer_.start();

    // The task owns copies of everything it uses; the watcher (a child of the
    // model) brings the outcome back to this thread, and is gone with the
    // model if the model goes first.
    auto* watcher = new QFutureWatcher<SyncOutcome>(this);
    connect(watcher, &QFutureWatcher<SyncOutcome>::finished, this, [this, watcher] {
        const SyncOutcome outcome = watcher->result();
        watcher->deleteLater();
        handleOutcome(outcome);
    });
    watcher->setFuture(QtConcurrent::run(
        [path, chatPath, firstPass, contactFiles = std::move(contactFiles),
         excludedChats = std::move(excludedChats), progress = progress_]() -> SyncOutcome {
            SyncOutcome outcome;
            if (firstPass) {
                try {
                    if (QFileInfo::exists(QString::fromStdString(path))) {
                        core::ShadowDBReader reader(path);
                        progress->existing = reader.messageCount();
                    }
                } catch (...) {
                    // A database never synced, or damaged: the pass says why.
                }
                try {
                    core::ChatDBReader store(chatPath);
                    progress->total = store.totalMessageCount();
                } catch (...) {
                    // The pass reports the store's problem.
                }
            }
            try {
                core::ShadowSync sync(chatPath, path);
                sync.setContactFiles(contactFiles);
                sync.setExcludedChats(excludedChats);
                outcome.inserted = sync.performSync(
                    [progress](std::int64_t rowsRead) { progress->rowsRead = rowsRead; });
                outcome.contactWarnings = sync.contactWarnings();
                outcome.notes = sync.passNotes();
                outcome.count = sync.messageCount();
                outcome.span = core::ShadowDBReader(path).messageTimeSpan();
                outcome.succeeded = true;
            } catch (const core::ShadowSyncError& error) {
                outcome.storeMissing = error.kind() == core::ShadowSyncError::Kind::chatDBNotFound;
                outcome.error = error.what();
            } catch (...) {
                outcome.error = describeCurrentException();
            }
            // The pass hashed with OpenSSL on a pooled thread.
            core::releaseThreadCryptoState();
            return outcome;
        }));
}

QString ShadowSyncViewModel::coverageLine() const {
    if (!hasSynced_) {
        return {};
    }
    core::Coverage coverage;
    coverage.messages = messageCount_;
    coverage.span = messageSpan_;
    try {
        return QString::fromStdString(
            core::coverageLine(coverage, core::LocalCalendar(core::TimeContext::system())));
    } catch (const std::invalid_argument&) {
        // A zone ICU does not know: the line is left out.
        return {};
    }
}

void ShadowSyncViewModel::publishProgress() {
    if (!progress_) {
        return;
    }
    const std::int64_t existing = progress_->existing;
    if (existing > 0 && !hasSynced_) {
        // The index left by an earlier run can be asked while this pass runs.
        assignIfChanged(messageCount_, existing, [this] { emit messageCountChanged(); });
    }
    const std::int64_t total = progress_->total;
    const std::int64_t rowsRead = progress_->rowsRead;
    const std::int64_t done =
        std::min(total > 0 ? total : rowsRead, std::max<std::int64_t>(existing, 0) + rowsRead);
    int secondsLeft = -1;
    const qint64 elapsedMs = syncClock_.elapsed();
    if (total > 0 && rowsRead > 0 && elapsedMs > 1000) {
        const double rate = static_cast<double>(rowsRead) / static_cast<double>(elapsedMs);
        secondsLeft = static_cast<int>(static_cast<double>(total - done) / rate / 1000.0 + 0.5);
    }
    // Pages are committed before they are counted: an empty index being
    // filled can be asked from its first page on.
    const bool growing = isIndexGrowing_ || (!hasSynced_ && existing <= 0 && rowsRead > 0);
    if (done != progressDone_ || total != progressTotal_ || secondsLeft != secondsLeft_ ||
        growing != isIndexGrowing_) {
        progressDone_ = done;
        progressTotal_ = total;
        secondsLeft_ = secondsLeft;
        isIndexGrowing_ = growing;
        emit progressChanged();
    }
}

void ShadowSyncViewModel::handleOutcome(const SyncOutcome& outcome) {
    publishProgress();
    progressTimer_.stop();
    progress_.reset();
    // Complete, or the pass failed: messageCount says from now on what the
    // index holds.
    isIndexGrowing_ = false;
    if (outcome.succeeded) {
        failuresInARow_ = 0;
        lastSyncedAt_ = QDateTime::currentDateTime();
        storeMissing_ = false;
        QStringList warnings;
        for (const std::string& warning : outcome.contactWarnings) {
            warnings.append(QString::fromStdString(warning));
            if (!contactWarnings_.contains(warnings.back())) {
                logger_.warning("shadow_contacts_skipped", {{"warning", warning}});
            }
        }
        assignIfChanged(contactWarnings_, warnings, [this] { emit contactWarningsChanged(); });
        if (!outcome.notes.empty()) {
            QStringList notes;
            for (const std::string& note : outcome.notes) {
                notes.append(QString::fromStdString(note));
                logger_.info("shadow_sync_note", {{"note", note}});
            }
            assignIfChanged(syncNotes_, notes, [this] { emit syncNotesChanged(); });
        }
        assignIfChanged(messageCount_, outcome.count, [this] { emit messageCountChanged(); });
        assignIfChanged(messageSpan_, outcome.span, [this] { emit coverageChanged(); });
        emit lastSyncedAtChanged();
        assignIfChanged(hasSynced_, true, [this] { emit hasSyncedChanged(); });
        setIsSyncing(false);
        logger_.info("shadow_sync_complete", {{"inserted", std::to_string(outcome.inserted)},
                                              {"message_count", std::to_string(outcome.count)}});
    } else {
        storeMissing_ = outcome.storeMissing;
        // The store may be fixed without changing (a permission granted, a
        // disk mounted): the live index tries again, less often each time.
        if (watcher_ && !syncAgain_) {
            const auto delay = std::min<std::chrono::milliseconds>(
                firstRetryDelay_ * (1LL << std::min(failuresInARow_, 16)), kMaximumRetryDelay);
            ++failuresInARow_;
            nextRetryAt_ = QDateTime::currentDateTime().addMSecs(delay.count());
            retryTimer_.start(delay);
        }
        setLastError(outcome.storeMissing ? missingStoreText(chatDBPath_)
                                          : QString::fromStdString(outcome.error));
        setIsSyncing(false);
        logger_.warning("shadow_sync_failed", {{"error", outcome.error}});
    }
    if (syncAgain_) {
        syncIfPossible();
    }
}

void ShadowSyncViewModel::setIsSyncing(bool value) {
    assignIfChanged(isSyncing_, value, [this] { emit isSyncingChanged(); });
}

void ShadowSyncViewModel::setLastError(const QString& value) {
    assignIfChanged(lastError_, value, [this] { emit lastErrorChanged(); });
}

} // namespace orlune::rlm
