#pragma once
// The few text styles, colours and widgets the screens share, so that every
// view draws a headline, a caption or a prominent button the same way.

#include <QColor>
#include <QFont>
#include <QString>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QEvent;
class QUrl;
class QWidget;

namespace orlune::rlm {

// Stateless; GUI thread only (it reads the application's font and palette).
// What it applies is derived from the palette of that moment; each widget
// remembers what it was given, so that restyle() can apply it again when the
// palette changes (a switch between light and dark mode).
class ViewStyle {
public:
    ViewStyle() = delete;

    enum class TextStyle { body, headline, subheadline, caption };
    enum class Tint { primary, secondary, red, green, blue };

    // Spacing and insets, in points.
    static constexpr int kDefaultInset = 16;

    // The application's font in `style`: body is the application's font as
    // the person set it; the smaller styles follow it, at most two points
    // smaller.
    static QFont font(TextStyle style);
    // `tint` against the application's palette (primary: the normal text
    // colour); each tint is adjusted to a contrast of at least
    // kMinimumContrast against the window background.
    static QColor colour(Tint tint);
    // The least contrast text is given against its background (WCAG AA for
    // normal text).
    static constexpr qreal kMinimumContrast = 4.5;
    // The WCAG contrast ratio of two colours (1 to 21).
    static qreal contrastRatio(const QColor& one, const QColor& other);
    // The accent colour (the palette's highlight).
    static QColor accent();

    // A plain-text label in `style` and `tint`, word-wrapped.
    static QLabel* label(const QString& text, TextStyle style, Tint tint, const QString& objectName,
                         QWidget* parent = nullptr);
    // Gives an existing label `style` and `tint`.
    static void apply(QLabel* label, TextStyle style, Tint tint);

    // Word wrap breaks lines only between words: a longer run of characters
    // without white space (a URL) runs past a label's edge. wrappable() puts
    // an invisible break opportunity (a zero-width space) after each
    // character of every run longer than kLongestUnbrokenRun, never inside
    // a surrogate pair or before a combining mark; unwrapped() takes every
    // zero-width space out again (what a label shows is then, for text that
    // held none, the text it was given).
    static constexpr int kLongestUnbrokenRun = 16;
    static QString wrappable(const QString& text);
    static QString unwrapped(const QString& text);

    // A thin horizontal line between blocks.
    static QFrame* divider(QWidget* parent = nullptr);

    // The filled ("prominent") button look: accent background, light text.
    static void makeProminent(QPushButton* button);

    // Applies again, from the application's current palette, every style
    // given through this class to `root` and the widgets inside it. Top-level
    // views call it when they see a palette, style or theme change.
    static void restyle(QWidget* root);
    // Whether `event` is one of those changes.
    static bool changesStyle(const QEvent* event);

    // The caption row "Get an API key at <domain>": the domain in blue, which
    // calls `open` with the gateway's sign-up address when activated.
    static QWidget* gatewayLinkRow(const std::function<bool(const QUrl&)>& open,
                                   QWidget* parent = nullptr);
};

} // namespace orlune::rlm
