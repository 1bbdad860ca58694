#include "views/MessageRow.hpp"

#include "answer/CitedMessagesHeading.hpp"
#include "views/ViewStyle.hpp"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace orlune::rlm {

namespace {

constexpr int kBubbleInset = 8;
constexpr qreal kCornerRadius = 8;

// A word-wrapped label that asks for the width of its longest line, so that a
// short message gets a snug bubble and a long one as much of the row as it
// can have (the layout then wraps it to the row).
class BubbleLabel : public QLabel {
public:
    using QLabel::QLabel;

    QSize sizeHint() const override {
        const QSize wrapped = QLabel::sizeHint();
        const QRect natural = fontMetrics().boundingRect(QRect(0, 0, INT_MAX / 4, INT_MAX / 4),
                                                         Qt::TextExpandTabs, text());
        const QMargins margins = contentsMargins();
        const int width = natural.width() + margins.left() + margins.right() + 2;
        return {std::max(width, wrapped.width() / 4), heightForWidth(width)};
    }

    // Narrow, and one line high: the height actually needed comes from
    // heightForWidth once the layout knows the width.
    QSize minimumSizeHint() const override {
        const QMargins margins = contentsMargins();
        const int width = std::min(sizeHint().width(), fontMetrics().averageCharWidth() * 6 +
                                                           margins.left() + margins.right());
        return {width, fontMetrics().height() + margins.top() + margins.bottom()};
    }

protected:
    // The text holds break opportunities (ViewStyle::wrappable): what is
    // copied leaves them out, so that a copied URL still works.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Copy) && hasSelectedText()) {
            copySelection();
            event->accept();
            return;
        }
        QLabel::keyPressEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        QMenu menu(this);
        QAction* copy = menu.addAction(QStringLiteral("Copy"), this, [this] { copySelection(); });
        copy->setEnabled(hasSelectedText());
        menu.addAction(QStringLiteral("Select All"), this,
                       [this] { setSelection(0, static_cast<int>(text().size())); });
        menu.exec(event->globalPos());
    }

private:
    void copySelection() {
        QApplication::clipboard()->setText(ViewStyle::unwrapped(selectedText()));
    }
};

// `text` cut to `length` characters (never inside a surrogate pair) with an
// ellipsis; unchanged when not longer.
QString trimmedTo(const QString& text, int length) {
    if (text.size() <= length) {
        return text;
    }
    int end = length;
    if (end > 0 && text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return text.left(end).trimmed() + QStringLiteral("…");
}

} // namespace

bool MessageRow::showsCitations(const ChatMessage& message) {
    // An answer made from the index alone is itself the list of the messages
    // it found, each with its sender, chat and time: listing them again
    // under it would only repeat them.
    return !message.citations.empty() && !message.isIndexAnswer();
}

QString MessageRow::displayText(const std::string& text, bool hideNoModelNotice,
                                bool citationsShown) {
    QString shown = QString::fromStdString(text);
    if (citationsShown) {
        const QString heading =
            QStringLiteral("\n\n") + QString::fromUtf8(core::kCitedMessagesHeading.data(),
                                                       core::kCitedMessagesHeading.size());
        if (const qsizetype at = shown.lastIndexOf(heading); at >= 0) {
            shown.truncate(at);
        }
    }
    if (hideNoModelNotice) {
        const qsizetype paragraph = shown.indexOf(QStringLiteral("\n\n"));
        if (paragraph >= 0) {
            shown = shown.mid(paragraph + 2);
        }
    }
    return shown;
}

MessageRow::MessageRow(const ChatMessage& message, bool hideNoModelNotice, QWidget* parent)
    : QWidget(parent), message_(message),
      fullText_(displayText(message.text, hideNoModelNotice, showsCitations(message))) {
    setObjectName(QStringLiteral("messageRow"));
    const bool isUser = message_.role == ChatRole::user;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    // The bubble and what hangs under it (show more, copy, cited messages).
    bubbleBox_ = new QWidget(this);
    auto* column = new QVBoxLayout(bubbleBox_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);

    bubble_ = new BubbleLabel(bubbleBox_);
    bubble_->setObjectName(QStringLiteral("messageBubble"));
    bubble_->setTextFormat(Qt::PlainText);
    bubble_->setWordWrap(true);
    trimmed_ = fullText_.size() > kTrimmedLength;
    bubble_->setText(
        ViewStyle::wrappable(trimmed_ ? trimmedTo(fullText_, kTrimmedLength) : fullText_));
    bubble_->setFont(ViewStyle::font(ViewStyle::TextStyle::body));
    bubble_->setContentsMargins(kBubbleInset, kBubbleInset, kBubbleInset, kBubbleInset);
    bubble_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(bubble_, 0, isUser ? Qt::AlignRight : Qt::AlignLeft);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(6);
    if (isUser) {
        actions->addStretch(1);
    }
    if (trimmed_) {
        showMoreButton_ = new QPushButton(QStringLiteral("Show more"), bubbleBox_);
        showMoreButton_->setObjectName(QStringLiteral("showMoreButton"));
        showMoreButton_->setFlat(true);
        showMoreButton_->setFont(ViewStyle::font(ViewStyle::TextStyle::caption));
        showMoreButton_->setFixedHeight(QFontMetrics(showMoreButton_->font()).height() + 4);
        connect(showMoreButton_, &QPushButton::clicked, this, &MessageRow::showMore);
        actions->addWidget(showMoreButton_);
    }
    if (!isUser) {
        auto* copy = new QPushButton(QStringLiteral("Copy"), bubbleBox_);
        copy->setObjectName(QStringLiteral("copyButton"));
        copy->setFlat(true);
        copy->setToolTip(QStringLiteral("Copy this answer"));
        // A quiet caption-sized link under the bubble, not a full button row.
        copy->setFont(ViewStyle::font(ViewStyle::TextStyle::caption));
        copy->setFixedHeight(QFontMetrics(copy->font()).height() + 4);
        copy->setCursor(Qt::PointingHandCursor);
        // The button says it worked for a moment, then offers itself again.
        auto* restore = new QTimer(copy);
        restore->setSingleShot(true);
        restore->setInterval(kCopiedNoticeMs);
        connect(restore, &QTimer::timeout, copy, [copy] { copy->setText(QStringLiteral("Copy")); });
        connect(copy, &QPushButton::clicked, this, [this, copy, restore] {
            QApplication::clipboard()->setText(QString::fromStdString(message_.text));
            copy->setText(QStringLiteral("Copied"));
            restore->start();
        });
        actions->addWidget(copy);
        actions->addStretch(1);
    }
    if (actions->count() > 1 || trimmed_) {
        column->addLayout(actions);
    } else {
        delete actions;
    }

    if (showsCitations(message_)) {
        auto* heading = ViewStyle::label(
            QString::fromUtf8(core::kCitedMessagesHeading.data(),
                              static_cast<qsizetype>(core::kCitedMessagesHeading.size())),
            ViewStyle::TextStyle::caption, ViewStyle::Tint::primary,
            QStringLiteral("citationsHeading"), bubbleBox_);
        // In line with the messages under it.
        heading->setContentsMargins(kBubbleInset, 4, 0, 0);
        column->addWidget(heading);
    }
    const std::vector<CitedMessage> noCitations;
    for (const CitedMessage& cited : showsCitations(message_) ? message_.citations : noCitations) {
        QStringList heading;
        for (const std::string* part : {&cited.senderName, &cited.chatTitle, &cited.time}) {
            if (!part->empty()) {
                heading << QString::fromStdString(*part);
            }
        }
        auto* citation = ViewStyle::label(
            ViewStyle::wrappable(
                (heading.isEmpty() ? QString() : heading.join(QStringLiteral(" · ")) + "\n") +
                trimmedTo(QString::fromStdString(cited.text), kCitationLength)),
            ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
            QStringLiteral("citedMessage"), bubbleBox_);
        citation->setTextFormat(Qt::PlainText);
        citation->setWordWrap(true);
        citation->setContentsMargins(kBubbleInset, 0, 0, 0);
        column->addWidget(citation);
    }

    if (isUser) {
        layout->addStretch(1);
    }
    layout->addWidget(bubbleBox_, isUser ? 0 : 4);
    if (!isUser) {
        layout->addStretch(1);
    }
}

QString MessageRow::shownText() const {
    return ViewStyle::unwrapped(bubble_->text());
}

void MessageRow::showMore() {
    if (!trimmed_) {
        return;
    }
    trimmed_ = false;
    bubble_->setText(ViewStyle::wrappable(fullText_));
    showMoreButton_->hide();
}

QColor MessageRow::bubbleColour() const {
    QColor colour = message_.role == ChatRole::user ? ViewStyle::accent() : QColor(Qt::gray);
    colour.setAlphaF(message_.role == ChatRole::user ? 0.15 : 0.2);
    return colour;
}

QRect MessageRow::bubbleGeometry() const {
    return bubble_->geometry().translated(bubbleBox_->pos());
}

void MessageRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(bubbleGeometry()), kCornerRadius, kCornerRadius);
    painter.fillPath(path, bubbleColour());
}

} // namespace orlune::rlm
