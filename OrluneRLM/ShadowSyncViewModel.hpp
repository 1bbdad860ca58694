#pragma once
// The state behind the sync status: one background copy of the messaging
// store into the shadow database at a time, with its count and errors.

#include "OrluneRLM/StructuredLogger.hpp"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

namespace orlune::rlm {

// Lives on the GUI thread and must be used only there. Each published field
// has a NOTIFY signal without arguments, emitted after the field has changed
// (only when its value really changed). Events go to the log with category
// "shadow-sync". Nothing here throws.
//
// A sync runs on the global thread pool with its own ShadowSync engine and
// connections; its outcome is published back on the GUI thread through the
// event loop, on success in the order messageCount, hasSynced, isSyncing,
// on failure lastError, isSyncing, and the event is logged after them.
// isSyncing is the only guard against overlapping syncs. If the model is
// destroyed during a sync, the sync still runs to its end; its outcome is
// dropped.
class ShadowSyncViewModel : public QObject {
    Q_OBJECT
    // A sync is running.
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY isSyncingChanged)
    // Text of the last failure (path resolution or sync); empty when none.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // Messages in the shadow database as counted after the last successful
    // sync; 0 until the first success of this model, whatever the database holds.
    Q_PROPERTY(qint64 messageCount READ messageCount NOTIFY messageCountChanged)
    // At least one sync has succeeded since the model was made; never goes
    // back to false.
    Q_PROPERTY(bool hasSynced READ hasSynced NOTIFY hasSyncedChanged)
    // The shadow database's path, or empty when it could not be resolved.
    Q_PROPERTY(QString shadowDBPath READ shadowDBPath CONSTANT)

public:
    // What tests replace. Every member has a default.
    struct Seams {
        // Resolves (and prepares the folder of) the shadow database;
        // ShadowPaths::shadowDBPath() when empty. May throw.
        std::function<std::string()> resolveShadowDBPath;
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kShadowSyncCategory};
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

    // Starts one sync on a background task and returns at once: sets
    // isSyncing, clears lastError, logs "shadow_sync_start"
    // {"shadow_db_path"}. The engine reads the store at ChatDBReader's
    // default path (CHAT_DB_PATH when set). On success logs
    // "shadow_sync_complete" {"inserted", "message_count"}, on failure
    // "shadow_sync_failed" {"error"} (warning). Does nothing, silently, while
    // a sync runs or when the path is empty.
    Q_INVOKABLE void syncIfPossible();

signals:
    void isSyncingChanged();
    void lastErrorChanged();
    void messageCountChanged();
    void hasSyncedChanged();

private:
    struct SyncOutcome;

    void handleOutcome(const SyncOutcome& outcome);
    void setIsSyncing(bool value);
    void setLastError(const QString& value);

    StructuredLogger logger_;
    QString shadowDBPath_;
    bool isSyncing_ = false;
    QString lastError_;
    qint64 messageCount_ = 0;
    bool hasSynced_ = false;
};

} // namespace orlune::rlm
