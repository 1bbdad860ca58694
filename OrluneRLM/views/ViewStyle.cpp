#include "views/ViewStyle.hpp"

#include "views/GatewayLink.hpp"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace orlune::rlm {

namespace {

// The platform's text sizes relative to its body text (13, 11.5 and 10.5
// points on the Mac), so that they follow the size the person chose; never
// more than two points below the body text, which on small body sizes keeps
// a caption legible.
qreal scaled(qreal base, qreal numerator) {
    return std::max(base * numerator / 13.0, base - 2.0);
}

// The WCAG relative luminance of an sRGB colour.
qreal luminance(const QColor& colour) {
    const auto channel = [](qreal value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// `colour` made darker (on a light background) or lighter (on a dark one)
// in small steps until it reaches kMinimumContrast against `background`.
QColor readableOn(QColor colour, const QColor& background) {
    const bool darkBackground = luminance(background) < 0.18;
    for (int step = 0;
         step < 40 && ViewStyle::contrastRatio(colour, background) < ViewStyle::kMinimumContrast;
         ++step) {
        colour = darkBackground ? colour.lighter(108) : colour.darker(108);
        if (darkBackground && colour.value() == 255) {
            // lighter() stops at full value: blend towards white instead.
            colour = QColor::fromRgbF(colour.redF() + (1 - colour.redF()) * 0.1,
                                      colour.greenF() + (1 - colour.greenF()) * 0.1,
                                      colour.blueF() + (1 - colour.blueF()) * 0.1);
        }
    }
    return colour;
}

QColor blended(const QColor& over, const QColor& under, qreal amount) {
    return QColor::fromRgbF(over.redF() * amount + under.redF() * (1 - amount),
                            over.greenF() * amount + under.greenF() * (1 - amount),
                            over.blueF() * amount + under.blueF() * (1 - amount));
}

// What each styled widget remembers, for restyle().
constexpr const char* kTextStyleProperty = "orluneTextStyle";
constexpr const char* kTintProperty = "orluneTint";
constexpr const char* kProminentProperty = "orluneProminent";
constexpr const char* kDividerProperty = "orluneDivider";

void paintDivider(QFrame* line) {
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText,
                     blended(ViewStyle::colour(ViewStyle::Tint::primary),
                             QApplication::palette().color(QPalette::Window), 0.2));
    line->setPalette(palette);
}

} // namespace

QFont ViewStyle::font(TextStyle style) {
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
    case TextStyle::body:
        break;
    case TextStyle::headline:
        font.setBold(true);
        break;
    case TextStyle::subheadline:
        font.setPointSizeF(scaled(base, 11.5));
        break;
    case TextStyle::caption:
        font.setPointSizeF(scaled(base, 10.5));
        break;
    }
    return font;
}

qreal ViewStyle::contrastRatio(const QColor& one, const QColor& other) {
    const qreal a = luminance(one);
    const qreal b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor ViewStyle::colour(Tint tint) {
    const QPalette palette = QApplication::palette();
    const QColor background = palette.color(QPalette::Window);
    switch (tint) {
    case Tint::primary:
        return palette.color(QPalette::WindowText);
    case Tint::secondary:
        return readableOn(blended(palette.color(QPalette::WindowText), background, 0.6),
                          background);
    case Tint::red:
        return readableOn(QColor(215, 38, 38), background);
    case Tint::green:
        return readableOn(QColor(30, 142, 62), background);
    case Tint::blue:
        return readableOn(QColor(0, 110, 230), background);
    }
    return palette.color(QPalette::WindowText);
}

QColor ViewStyle::accent() {
    return QApplication::palette().color(QPalette::Highlight);
}

void ViewStyle::apply(QLabel* label, TextStyle style, Tint tint) {
    label->setProperty(kTextStyleProperty, static_cast<int>(style));
    label->setProperty(kTintProperty, static_cast<int>(tint));
    label->setFont(font(style));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour(tint));
    label->setPalette(palette);
}

QLabel* ViewStyle::label(const QString& text, TextStyle style, Tint tint, const QString& objectName,
                         QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    apply(label, style, tint);
    return label;
}

namespace {

constexpr char16_t kBreakOpportunity = u'\u200B';

} // namespace

QString ViewStyle::wrappable(const QString& text) {
    // Where each run without white space starts; runs short enough are
    // copied as they are.
    QString result;
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        const QStringView run = QStringView(text).mid(runStart, end - runStart);
        if (run.size() <= kLongestUnbrokenRun) {
            result += run;
            return;
        }
        for (qsizetype index = 0; index < run.size(); ++index) {
            result += run[index];
            const bool last = index + 1 == run.size();
            if (!last && !run[index].isHighSurrogate() && !run[index + 1].isMark() &&
                run[index + 1] != kBreakOpportunity) {
                result += QChar(kBreakOpportunity);
            }
        }
    };
    for (qsizetype index = 0; index < text.size(); ++index) {
        if (text[index].isSpace()) {
            flush(index);
            result += text[index];
            runStart = index + 1;
        }
    }
    flush(text.size());
    return result;
}

QString ViewStyle::unwrapped(const QString& text) {
    QString result = text;
    result.remove(QChar(kBreakOpportunity));
    return result;
}

QFrame* ViewStyle::divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setProperty(kDividerProperty, true);
    paintDivider(line);
    return line;
}

void ViewStyle::makeProminent(QPushButton* button) {
    button->setProperty(kProminentProperty, true);
    const QColor accentColour = accent();
    const QColor text = QApplication::palette().color(QPalette::HighlightedText);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; border: none;"
                       " border-radius: 5px; padding: 4px 14px; }"
                       "QPushButton:pressed { background-color: %3; }"
                       "QPushButton:disabled { background-color: rgba(128, 128, 128, 60);"
                       " color: rgba(128, 128, 128, 200); }")
            .arg(accentColour.name(), text.name(), accentColour.darker(120).name()));
}

void ViewStyle::restyle(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (auto* label = qobject_cast<QLabel*>(widget);
            label && label->property(kTextStyleProperty).isValid()) {
            apply(label, static_cast<TextStyle>(label->property(kTextStyleProperty).toInt()),
                  static_cast<Tint>(label->property(kTintProperty).toInt()));
        } else if (auto* button = qobject_cast<QPushButton*>(widget);
                   button && button->property(kProminentProperty).toBool()) {
            makeProminent(button);
        } else if (auto* line = qobject_cast<QFrame*>(widget);
                   line && line->property(kDividerProperty).toBool()) {
            paintDivider(line);
        }
    }
}

bool ViewStyle::changesStyle(const QEvent* event) {
    switch (event->type()) {
    case QEvent::ApplicationFontChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::ThemeChange:
        return true;
    default:
        return false;
    }
}

QWidget* ViewStyle::gatewayLinkRow(const std::function<bool(const QUrl&)>& open, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("gatewayLinkRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QLabel* prompt = label(QStringLiteral("Get an API key at"), TextStyle::caption, Tint::secondary,
                           QStringLiteral("gatewayLinkPrompt"), row);
    prompt->setWordWrap(false);
    auto* link = new QLabel(row);
    link->setObjectName(QStringLiteral("gatewayLink"));
    link->setFont(font(TextStyle::caption));
    link->setTextFormat(Qt::RichText);
    link->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(QString::fromLatin1(kGatewayLink.signUpAddress), colour(Tint::blue).name(),
                 QString::fromLatin1(kGatewayLink.domainName)));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setCursor(Qt::PointingHandCursor);
    QObject::connect(link, &QLabel::linkActivated, link, [open](const QString& address) {
        if (open) {
            open(QUrl(address));
        }
    });
    layout->addWidget(prompt);
    layout->addWidget(link);
    layout->addStretch(1);
    return row;
}

} // namespace orlune::rlm
