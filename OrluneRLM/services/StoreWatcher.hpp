#pragma once
// Notices when the messaging store (its file or its write-ahead log) changes,
// so that the index can follow it without a click.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

class QFileSystemWatcher;

namespace orlune::rlm {

// GUI thread only. Watches "<store>", "<store>-wal" and the folder holding
// them (which also sees a log or store made after the watch began). Changes
// are debounced: changed() is emitted once a burst of writes has been quiet
// for `debounce`. Because file watching misses writes on some systems (and
// while the machine sleeps), the files' sizes and modification times are
// also compared every `pollInterval`; a difference is reported the same
// way. A poll that comes far later than asked (the machine slept) reports a
// change too, so the index catches up on wake. Nothing here throws.
class StoreWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultDebounce{750};
    static constexpr std::chrono::milliseconds kDefaultPollInterval{30000};

    StoreWatcher(QString storePath, std::chrono::milliseconds debounce,
                 std::chrono::milliseconds pollInterval, QObject* parent = nullptr);
    ~StoreWatcher() override;

    const QString& storePath() const { return storePath_; }

signals:
    // The store or its log changed (once per burst of writes).
    void changed();

private:
    // What the poll compares: sizes and modification times of both files.
    struct Signature {
        qint64 storeSize = -1;
        qint64 storeModified = 0;
        qint64 logSize = -1;
        qint64 logModified = 0;
        bool operator==(const Signature&) const = default;
    };

    Signature currentSignature() const;
    void watchFiles();
    void noteChange();
    void poll();

    QString storePath_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer debounce_;
    QTimer poll_;
    Signature lastSignature_;
    QDateTime lastPoll_;
};

} // namespace orlune::rlm
