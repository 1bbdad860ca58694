#include "OrluneRLM/views/SyncStatusView.hpp"

#include "OrluneRLM/views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orlune::rlm {

SyncStatusView::SyncStatusView(qint64 messageCount, bool isSyncing, const QString& lastError,
                               std::function<void()> onSync, QWidget* parent)
    : QWidget(parent), onSync_(std::move(onSync)) {
    setObjectName(QStringLiteral("syncStatusView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(ViewStyle::label(QStringLiteral("Shadow DB"),
                                       ViewStyle::TextStyle::subheadline, ViewStyle::Tint::primary,
                                       QStringLiteral("syncHeading"), this));
    statusLine_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::body, ViewStyle::Tint::secondary,
                         QStringLiteral("syncStatusLine"), this);
    layout->addWidget(statusLine_);

    auto* buttonRow = new QHBoxLayout;
    syncButton_ = new QPushButton(QStringLiteral("Sync Now"), this);
    syncButton_->setObjectName(QStringLiteral("syncNowButton"));
    buttonRow->addWidget(syncButton_);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);
    connect(syncButton_, &QPushButton::clicked, this, [this] {
        if (onSync_) {
            onSync_();
        }
    });
    setState(messageCount, isSyncing, lastError);
}

void SyncStatusView::setState(qint64 messageCount, bool isSyncing, const QString& lastError) {
    if (isSyncing) {
        statusLine_->setText(QStringLiteral("Syncing messages..."));
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::body, ViewStyle::Tint::secondary);
    } else if (!lastError.isEmpty()) {
        statusLine_->setText(QStringLiteral("Sync failed: ") + lastError);
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::caption, ViewStyle::Tint::red);
    } else if (messageCount <= 0) {
        statusLine_->setText(QStringLiteral("No messages indexed yet."));
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::body, ViewStyle::Tint::secondary);
    } else {
        statusLine_->setText(QStringLiteral("Messages indexed: ") + QString::number(messageCount));
        ViewStyle::apply(statusLine_, ViewStyle::TextStyle::body, ViewStyle::Tint::secondary);
    }
    syncButton_->setEnabled(!isSyncing);
}

} // namespace orlune::rlm
