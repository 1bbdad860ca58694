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

} // namespace

QPixmap OrluneIcon::draw(int size, bool mask) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    if (mask) {
        painter.fillPath(bubblePath().subtracted(moonPath()), Qt::black);
    } else {
        QLinearGradient fill(0, 6, 0, 60);
        fill.setColorAt(0, QColor(0x5b, 0x4b, 0xe0));
        fill.setColorAt(1, QColor(0x34, 0x27, 0xa8));
        painter.fillPath(bubblePath(), fill);
        painter.fillPath(moonPath(), QColor(0xf6, 0xd8, 0x6b));
    }
    return pixmap;
}

namespace {

// Draws the mark at whatever size is asked for, when it is asked for, so that
// start-up pays only for the sizes actually shown.
class DrawnIconEngine final : public QIconEngine {
public:
    explicit DrawnIconEngine(bool mask) : mask_(mask) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->drawPixmap(rect, OrluneIcon::draw(std::min(rect.width(), rect.height()), mask_));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        return OrluneIcon::draw(std::min(size.width(), size.height()), mask_);
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(mask_); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    }

private:
    bool mask_;
};

} // namespace

QIcon OrluneIcon::trayIcon() {
#ifdef Q_OS_MACOS
    QIcon icon(new DrawnIconEngine(true));
    icon.setIsMask(true);
    return icon;
#else
    return applicationIcon();
#endif
}

QIcon OrluneIcon::applicationIcon() {
    return QIcon(new DrawnIconEngine(false));
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
