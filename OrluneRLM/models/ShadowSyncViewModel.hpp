#pragma once
// The state behind the sync status: one background copy of the messaging
// store into the shadow database at a time, with its count, progress and
// errors, and the live index that starts a copy whenever the store changes.

#include "services/StructuredLogger.hpp"
#include "shadow/ShadowCoverage.hpp"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlune::rlm {

// Lives on the GUI thread and must be used only there. Each published field
// has a NOTIFY signal without arguments, emitted after the field has changed
// (only when its value really changed). Events go to the log with category
// "shadow-sync". Nothing here throws.
//
// A sync runs on the global thread pool with its own ShadowSync engine and
// connections; its outcome is published back on the GUI thread through the
// event loop, on success in the order contactWarnings, syncNotes, messageCount,
// hasSynced, isSyncing, on failure lastError, isSyncing, and the event is
// logged after them.
// isSyncing is the only guard against overlapping syncs. If the model is
// destroyed during a sync, the sync still runs to its end; its outcome is
// dropped.
class ShadowSyncViewModel : public QObject {
    Q_OBJECT
    // A sync is running.
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY isSyncingChanged)
    // Text of the last failure (path resolution or sync); empty when none.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // When a failed sync is tried again.
    Q_PROPERTY(QDateTime nextRetryAt READ nextRetryAt NOTIFY lastErrorChanged)
    // Messages in the shadow database as counted after the last successful
    // sync; 0 until the first success of this model, whatever the database holds.
    Q_PROPERTY(qint64 messageCount READ messageCount NOTIFY messageCountChanged)
    // At least one sync has succeeded since the model was made; never goes
    // back to false.
    Q_PROPERTY(bool hasSynced READ hasSynced NOTIFY hasSyncedChanged)
    // The shadow database's path, or empty when it could not be resolved.
    Q_PROPERTY(QString shadowDBPath READ shadowDBPath CONSTANT)
    // The last sync failed because nothing is at the store's path.
    Q_PROPERTY(bool storeMissing READ storeMissing NOTIFY lastErrorChanged)
    // While a sync runs: messages of the store done so far and the store's
    // total (0 when not known yet), and the seconds left (-1 when not known).
    Q_PROPERTY(qint64 progressDone READ progressDone NOTIFY progressChanged)
    Q_PROPERTY(qint64 progressTotal READ progressTotal NOTIFY progressChanged)
    Q_PROPERTY(int secondsLeft READ secondsLeft NOTIFY progressChanged)
    Q_PROPERTY(bool isIndexGrowing READ isIndexGrowing NOTIFY progressChanged)
    // Local time of the last successful sync; invalid before one.
    Q_PROPERTY(QDateTime lastSyncedAt READ lastSyncedAt NOTIFY lastSyncedAtChanged)
    // What the last successful sync could not read of the person's contacts
    // (a locked or damaged address book, a missing or unreadable vCard
    // file), one sentence each naming the source; empty when everything was
    // read. Such a source is skipped (its people stay unnamed) and tried
    // again at every sync; the sync itself succeeds.
    Q_PROPERTY(QStringList contactWarnings READ contactWarnings NOTIFY contactWarningsChanged)
    // What the latest pass that had something to say about the index said
    // (ShadowSync::passNotes: a damaged search index rebuilt, ...), one
    // sentence each; empty until a pass says something. A later pass
    // without notes leaves them.
    Q_PROPERTY(QStringList syncNotes READ syncNotes NOTIFY syncNotesChanged)
    // What the index covers as of the last successful sync, in local months
    // ("84,210 messages · Mar 2021 – today", core::coverageLine); empty
    // before one.
    Q_PROPERTY(QString coverageLine READ coverageLine NOTIFY coverageChanged)

public:
    // What tests replace. Every member has a default.
    struct Seams {
        // Resolves (and prepares the folder of) the shadow database;
        // ShadowPaths::preparedShadowDBPath() when empty. May throw.
        std::function<std::string()> resolveShadowDBPath;
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kShadowSyncCategory};
        // The store's path; ChatDBReader::defaultChatDBPath() (CHAT_DB_PATH
        // when set) when empty.
        std::function<std::string()> resolveChatDBPath;
        // The live index's quiet time after a change and its polling period.
        std::chrono::milliseconds debounce{0};
        std::chrono::milliseconds pollInterval{0};
        // The wait before the live index retries a failed sync; it doubles
        // after each further failure, up to kMaximumRetryDelay.
        std::chrono::milliseconds firstRetryDelay{0};
        // The vCard files each sync reads with the address books, asked on
        // the GUI thread as each sync starts; none when empty. Must not throw.
        std::function<std::vector<std::string>()> contactFiles;
        // The chats each sync leaves out (ShadowSync::setExcludedChats),
        // asked on the GUI thread as each sync starts; absent: those the last
        // sync left out. When empty, each sync leaves out those the last one
        // did. Must not throw.
        std::function<std::optional<std::set<std::string>>()> excludedChats;
    };

    // Resolves the shadow database's path. On failure the path is empty,
    // lastError holds the reason, "shadow_path_error" {"error"} is logged,
    // and syncIfPossible() does nothing for the life of the model. Reads
    // nothing from the database.
    explicit ShadowSyncViewModel(QObject* parent = nullptr);
    ShadowSyncViewModel(Seams seams, QObject* parent = nullptr);
    ~ShadowSyncViewModel() override;

    bool isSyncing() const { return isSyncing_; }
    const QString& lastError() const { return lastError_; }
    qint64 messageCount() const { return messageCount_; }
    bool hasSynced() const { return hasSynced_; }
    const QString& shadowDBPath() const { return shadowDBPath_; }
    const QString& chatDBPath() const { return chatDBPath_; }
    bool storeMissing() const { return storeMissing_; }
    qint64 progressDone() const { return progressDone_; }
    qint64 progressTotal() const { return progressTotal_; }
    int secondsLeft() const { return secondsLeft_; }
    const QDateTime& lastSyncedAt() const { return lastSyncedAt_; }
    const QStringList& contactWarnings() const { return contactWarnings_; }
    const QStringList& syncNotes() const { return syncNotes_; }
    QString coverageLine() const;
    // The index holds messages: questions can be answered from it, also
    // while a sync runs (a first sync's pages count as soon as written).
    bool hasIndex() const { return messageCount_ > 0 || isIndexGrowing_; }
    // A first sync into an empty index has written some pages and goes on:
    // the index can be asked but holds only part of the messages.
    bool isIndexGrowing() const { return isIndexGrowing_; }

    static constexpr std::chrono::milliseconds kDefaultFirstRetryDelay{5000};
    static constexpr std::chrono::milliseconds kMaximumRetryDelay{300000};

    // When the live index tries again after a failed sync (local time);
    // invalid when no retry is due.
    const QDateTime& nextRetryAt() const { return nextRetryAt_; }

    // Starts the live index once (later calls do nothing): a sync now, and
    // another whenever the store or its log changes (StoreWatcher), after a
    // short quiet time and at the latest at the next slow poll. A change
    // noticed while a sync runs starts one more sync when it ends. After a
    // failed sync it tries again by itself, first after firstRetryDelay and
    // then twice as long each time (nextRetryAt says when), until a sync
    // succeeds.
    void startLiveIndex();
    bool isLive() const { return watcher_ != nullptr; }

    // The text a person reads when nothing is at `chatDBPath`: what is
    // missing and how to point Orlune at a store.
    static QString missingStoreText(const QString& chatDBPath);

    // Reads the store at `chatDBPath` from now on (the person chose it):
    // the live index watches it instead, and a sync starts (or follows the
    // one running).
    void setChatDBPath(const QString& chatDBPath);

    // Starts one sync on a background task and returns at once: sets
    // isSyncing, clears lastError, logs "shadow_sync_start"
    // {"shadow_db_path"}. The engine reads the store at ChatDBReader's
    // default path (CHAT_DB_PATH when set). On success logs
    // "shadow_sync_complete" {"inserted", "message_count"}, and each contact
    // warning that was not there after the previous success as
    // "shadow_contacts_skipped" {"warning"} (warning); on failure
    // "shadow_sync_failed" {"error"} (warning). Does nothing, silently, while
    // a sync runs (one more then follows it) or when the path is empty.
    // The first sync of the model also counts the store (for the progress)
    // and publishes the count the shadow database already holds as soon as
    // it is read, so that an existing index can be asked at once.
    Q_INVOKABLE void syncIfPossible();

signals:
    void isSyncingChanged();
    void lastErrorChanged();
    void messageCountChanged();
    void hasSyncedChanged();
    void progressChanged();
    void lastSyncedAtChanged();
    void contactWarningsChanged();
    void syncNotesChanged();
    void coverageChanged();

private:
    struct SyncOutcome;
    struct Progress;

    void handleOutcome(const SyncOutcome& outcome);
    void publishProgress();
    void setIsSyncing(bool value);
    void setLastError(const QString& value);

    StructuredLogger logger_;
    QString shadowDBPath_;
    bool isSyncing_ = false;
    QString lastError_;
    qint64 messageCount_ = 0;
    bool hasSynced_ = false;
    QString chatDBPath_;
    bool storeMissing_ = false;
    qint64 progressDone_ = 0;
    qint64 progressTotal_ = 0;
    int secondsLeft_ = -1;
    bool isIndexGrowing_ = false;
    QDateTime lastSyncedAt_;
    QStringList contactWarnings_;
    QStringList syncNotes_;
    // The first and last message dates found by the last successful sync.
    std::optional<core::MessageTimeSpan> messageSpan_;
    std::function<std::vector<std::string>()> contactFiles_;
    std::function<std::optional<std::set<std::string>>()> excludedChats_;
    bool syncAgain_ = false;
    std::chrono::milliseconds debounce_;
    std::chrono::milliseconds pollInterval_;
    QDateTime nextRetryAt_;
    std::chrono::milliseconds firstRetryDelay_;
    int failuresInARow_ = 0;
    QTimer retryTimer_;
    class StoreWatcher* watcher_ = nullptr;
    std::shared_ptr<Progress> progress_;
    QTimer progressTimer_;
    QElapsedTimer syncClock_;
};

} // namespace orlune::rlm
