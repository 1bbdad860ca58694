#pragma once
// The index status block: "Messages indexed", one status line, what the
// index covers, a progress bar while a sync runs, and "Sync Now".

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace orlune::rlm {

// GUI thread only. Holds no state of its own: the caller sets what it shows
// with setState() whenever the sync model changes.
class SyncStatusView : public QWidget {
    Q_OBJECT

public:
    // What the block shows.
    struct State {
        qint64 messageCount = 0;
        bool isSyncing = false;
        // Empty means no error.
        QString lastError;
        // The error is a missing store: its text is shown as it is.
        bool storeMissing = false;
        // While syncing: done of total (total 0 when not known) and the
        // seconds left (-1 when not known).
        qint64 progressDone = 0;
        qint64 progressTotal = 0;
        int secondsLeft = -1;
        // Local time of the last successful sync; invalid before one.
        QDateTime lastSyncedAt;
        // When a failed sync is tried again; invalid when none is due.
        QDateTime nextRetryAt;
        // What the index covers ("84,210 messages · Mar 2021 – today"),
        // shown on a line of its own below the status; hidden when empty.
        QString coverage;
        // How far the messages are embedded for the search by meaning, or
        // why that stopped (EmbeddingViewModel::statusText), on a line of
        // its own below the coverage; hidden when empty.
        QString embedding;
    };

    // `onSync` runs when "Sync Now" is pressed, `onChooseStore` when
    // "Choose…" is (offered, with the error in red, while no store is found).
    SyncStatusView(const State& state, std::function<void()> onSync,
                   std::function<void()> onChooseStore, QWidget* parent = nullptr);

    void setState(const State& state);

    // The status line for `state`, e.g. "Up to date · 14:02 · 412,118 messages".
    static QString statusText(const State& state);
    // A count with thousands separators ("412,118").
    static QString formatCount(qint64 count);

private:
    std::function<void()> onSync_;
    std::function<void()> onChooseStore_;
    QPushButton* chooseStoreButton_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QLabel* coverageLine_ = nullptr;
    QLabel* embeddingLine_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* syncButton_ = nullptr;
};

} // namespace orlune::rlm
