#include "OrluneRLM/views/MessageRow.hpp"

#include "OrluneRLM/views/ViewStyle.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
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
};

} // namespace

MessageRow::MessageRow(const ChatMessage& message, QWidget* parent)
    : QWidget(parent), message_(message) {
    setObjectName(QStringLiteral("messageRow"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    bubble_ = new BubbleLabel(this);
    bubble_->setObjectName(QStringLiteral("messageBubble"));
    bubble_->setTextFormat(Qt::PlainText);
    bubble_->setWordWrap(true);
    bubble_->setText(QString::fromStdString(message_.text));
    bubble_->setFont(ViewStyle::font(ViewStyle::TextStyle::body));
    bubble_->setContentsMargins(kBubbleInset, kBubbleInset, kBubbleInset, kBubbleInset);
    bubble_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const bool isUser = message_.role == ChatRole::user;
    if (isUser) {
        layout->addStretch(1);
    }
    layout->addWidget(bubble_);
    if (!isUser) {
        layout->addStretch(1);
    }
}

QColor MessageRow::bubbleColour() const {
    QColor colour = message_.role == ChatRole::user ? ViewStyle::accent() : QColor(Qt::gray);
    colour.setAlphaF(message_.role == ChatRole::user ? 0.15 : 0.2);
    return colour;
}

QRect MessageRow::bubbleGeometry() const {
    return bubble_->geometry();
}

void MessageRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(bubble_->geometry()), kCornerRadius, kCornerRadius);
    painter.fillPath(path, bubbleColour());
}

} // namespace orlune::rlm
