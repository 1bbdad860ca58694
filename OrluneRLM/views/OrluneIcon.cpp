#include "views/OrluneIcon.hpp"

#include <QDir>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace orlune::rlm {

namespace {

// The mark on a 64-unit grid; packaging/orlune.svg draws
// the same shapes.
QPainterPath bubblePath() {
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(4, 6, 56, 42), 14, 14);
    QPainterPath tail;
    tail.moveTo(16, 44);
    tail.lineTo(12, 60);
    tail.lineTo(30, 46);
    tail.closeSubpath();
    return bubble.united(tail);
}

QPainterPath moonPath() {
    QPainterPath disc;
    disc.addEllipse(QPointF(32, 27), 14, 14);
    QPainterPath bite;
    bite.addEllipse(QPointF(39, 22), 12, 12);
    return disc.subtracted(bite);
}

// The badge's dot and the ring of space kept around it.
QPainterPath badgeDot() {
    QPainterPath dot;
    dot.addEllipse(QPointF(50, 14), 11, 11);
    return dot;
}

QPainterPath badgeRing() {
    QPainterPath ring;
    ring.addEllipse(QPointF(50, 14), 15, 15);
    return ring;
}

} // namespace

QPixmap OrluneIcon::draw(int size, bool mask, bool badge) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    // With a badge the mark keeps clear of the dot, so that the dot reads
    // on any panel colour.
    const QPainterPath bubble = badge ? bubblePath().subtracted(badgeRing()) : bubblePath();
    if (mask) {
        painter.fillPath(bubble.subtracted(moonPath()), Qt::black);
        if (badge) {
            painter.fillPath(badgeDot(), Qt::black);
        }
    } else {
        QLinearGradient fill(0, 6, 0, 60);
        fill.setColorAt(0, QColor(0x5b, 0x4b, 0xe0));
        fill.setColorAt(1, QColor(0x34, 0x27, 0xa8));
        painter.fillPath(bubble, fill);
        painter.fillPath(moonPath(), QColor(0xf6, 0xd8, 0x6b));
        if (badge) {
            painter.fillPath(badgeDot(), QColor(0xe0, 0x2f, 0x2f));
        }
    }
    return pixmap;
}

namespace {

// Draws the mark at whatever size is asked for, when it is asked for, so that
// start-up pays only for the sizes actually shown.
class DrawnIconEngine final : public QIconEngine {
public:
    DrawnIconEngine(bool mask, bool badge) : mask_(mask), badge_(badge) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->drawPixmap(rect,
                            OrluneIcon::draw(std::min(rect.width(), rect.height()), mask_, badge_));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        return OrluneIcon::draw(std::min(size.width(), size.height()), mask_, badge_);
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(mask_, badge_); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    }

private:
    bool mask_;
    bool badge_;
};

} // namespace

QIcon OrluneIcon::trayIcon(bool badge) {
#ifdef Q_OS_MACOS
    QIcon icon(new DrawnIconEngine(true, badge));
    icon.setIsMask(true);
    return icon;
#else
    return QIcon(new DrawnIconEngine(false, badge));
#endif
}

QIcon OrluneIcon::applicationIcon() {
    return QIcon(new DrawnIconEngine(false, false));
}

bool OrluneIcon::writeIconset(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        return false;
    }
    for (const int points : {16, 32, 128, 256, 512}) {
        for (const int scale : {1, 2}) {
            const QString name = QStringLiteral("icon_%1x%1%2.png")
                                     .arg(points)
                                     .arg(scale == 2 ? QStringLiteral("@2x") : QString());
            if (!draw(points * scale, false).save(folder + QLatin1Char('/') + name, "PNG")) {
                return false;
            }
        }
    }
    return true;
}

} // namespace orlune::rlm
