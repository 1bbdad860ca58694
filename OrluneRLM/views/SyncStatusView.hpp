#pragma once
// The sync status block: "Shadow DB", one status line and "Sync Now".

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace orlune::rlm {

// GUI thread only. Holds no state of its own: the caller sets what it shows
// with setState() whenever the sync model changes.
class SyncStatusView : public QWidget {
    Q_OBJECT

public:
    // `onSync` runs when "Sync Now" is pressed.
    SyncStatusView(qint64 messageCount, bool isSyncing, const QString& lastError,
                   std::function<void()> onSync, QWidget* parent = nullptr);

    // `lastError` empty means no error.
    void setState(qint64 messageCount, bool isSyncing, const QString& lastError);

private:
    std::function<void()> onSync_;
    QLabel* statusLine_ = nullptr;
    QPushButton* syncButton_ = nullptr;
};

} // namespace orlune::rlm
