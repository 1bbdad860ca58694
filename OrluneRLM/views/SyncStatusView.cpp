#include "views/SyncStatusView.hpp"

#include "views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace orlune::rlm {

SyncStatusView::SyncStatusView(const State& state, std::function<void()> onSync,
                               std::function<void()> onChooseStore, QWidget* parent)
    : QWidget(parent), onSync_(std::move(onSync)), onChooseStore_(std::move(onChooseStore)) {
    setObjectName(QStringLiteral("syncStatusView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(
        ViewStyle::label(QStringLiteral("Messages indexed"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("syncHeading"), this),
        1);
    syncButton_ = new QPushButton(QStringLiteral("Sync Now"), this);
    syncButton_->setObjectName(QStringLiteral("syncNowButton"));
    headerRow->addWidget(syncButton_);
    layout->addLayout(headerRow);

    statusLine_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::body, ViewStyle::Tint::secondary,
                         QStringLiteral("syncStatusLine"), this);
    layout->addWidget(statusLine_);
    coverageLine_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("syncCoverageLine"), this);
    layout->addWidget(coverageLine_);
    embeddingLine_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("syncEmbeddingLine"), this);
    embeddingLine_->setWordWrap(true);
    layout->addWidget(embeddingLine_);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("syncProgressBar"));
    progressBar_->setTextVisible(false);
    progressBar_->setMaximumHeight(6);
    layout->addWidget(progressBar_);
    chooseStoreButton_ = new QPushButton(QStringLiteral("Choose…"), this);
    chooseStoreButton_->setObjectName(QStringLiteral("chooseStoreButton"));
    chooseStoreButton_->setAccessibleName(QStringLiteral("Choose the message store"));
    layout->addWidget(chooseStoreButton_, 0, Qt::AlignLeft);
    connect(chooseStoreButton_, &QPushButton::clicked, this, [this] {
        if (onChooseStore_) {
            onChooseStore_();
        }
    });

    connect(syncButton_, &QPushButton::clicked, this, [this] {
        if (onSync_) {
            onSync_();
        }
    });
    setState(state);
}

QString SyncStatusView::formatCount(qint64 count) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(count);
}

QString SyncStatusView::statusText(const State& state) {
    const QString messages = state.messageCount == 1
                                 ? QStringLiteral("1 message")
                                 : formatCount(state.messageCount) + QStringLiteral(" messages");
    if (state.isSyncing) {
        if (state.progressTotal > 0 && state.progressDone < state.progressTotal) {
            QString text =
                QStringLiteral("Indexing messages: %1 of %2")
                    .arg(formatCount(state.progressDone), formatCount(state.progressTotal));
            if (state.secondsLeft >= 60) {
                text += QStringLiteral(" · about %1 min left").arg((state.secondsLeft + 30) / 60);
            } else if (state.secondsLeft >= 0) {
                text += QStringLiteral(" · about %1 s left").arg(std::max(1, state.secondsLeft));
            }
            return text;
        }
        return state.messageCount > 0 ? QStringLiteral("Checking for new messages · ") + messages
                                      : QStringLiteral("Indexing messages...");
    }
    if (!state.lastError.isEmpty()) {
        QString text = state.storeMissing ? state.lastError
                                          : QStringLiteral("Sync failed: ") + state.lastError;
        if (state.nextRetryAt.isValid()) {
            text += QStringLiteral(" Trying again at %1.")
                        .arg(state.nextRetryAt.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
        }
        return text;
    }
    if (state.messageCount <= 0) {
        return QStringLiteral("No messages indexed yet.");
    }
    if (!state.lastSyncedAt.isValid()) {
        return messages;
    }
    return QStringLiteral("Up to date · %1 · %2")
        .arg(state.lastSyncedAt.toLocalTime().toString(QStringLiteral("HH:mm")), messages);
}

void SyncStatusView::setState(const State& state) {
    statusLine_->setText(statusText(state));
    coverageLine_->setText(state.coverage);
    coverageLine_->setVisible(!state.coverage.isEmpty());
    embeddingLine_->setText(state.embedding);
    embeddingLine_->setVisible(!state.embedding.isEmpty());
    if (!state.isSyncing && !state.lastError.isEmpty()) {
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::caption, ViewStyle::Tint::red);
    } else {
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::body, ViewStyle::Tint::secondary);
    }
    const bool showBar =
        state.isSyncing && state.progressTotal > 0 && state.progressDone < state.progressTotal;
    progressBar_->setVisible(showBar);
    if (showBar) {
        // QProgressBar holds ints; the fraction is what is drawn.
        progressBar_->setRange(0, 1000);
        progressBar_->setValue(static_cast<int>(state.progressDone * 1000 / state.progressTotal));
    }
    syncButton_->setEnabled(!state.isSyncing);
    chooseStoreButton_->setVisible(!state.isSyncing && state.storeMissing);
}

} // namespace orlune::rlm
