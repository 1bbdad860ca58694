#pragma once
// The application shell: the menu-bar (tray) item and the window that holds
// the menu content.

#include "services/WindowPlacement.hpp"
#include "views/OrluneRLMMenu.hpp"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

class QMenu;

namespace orlune::rlm {

// GUI thread only; needs a QApplication. Owns one OrluneRLMMenu for its
// whole life (so the models and the conversation survive the popup being
// closed) and the window around it:
// - with a system tray: a tray item titled "OrluneRLM" whose click (Trigger;
//   a double click is two clicks, not a third action) toggles a frameless
//   popup under the item; showing it activates the application (on the Mac
//   a menu-bar click does not), keeps it over full-screen applications and
//   puts the keyboard focus in its input field; the popup hides when another
//   application takes the focus;
// - without a tray, or when asked for (--window): a normal window, shown at once,
//   with the size and position it had when last hidden or at the last quit
//   (WindowPlacement::defaultPath()), fitted to the screens there are now.
// The popup's place follows the tray item and its size its content, no
// taller than the room beside the item (the conversation scrolls inside);
// it is kept wholly on the screen, also when its content grows while it is
// open.
// "Quit" in the menu ends the application; "Quit & Reopen" also starts a new
// copy once this one has ended (AppRelauncher).
// The tray item's context menu offers Open, Settings, Sync Now and Quit. An
// answer that arrives while the popup is closed puts a badge on the tray
// item (and says so in its tool tip) until the popup is opened again.
class OrluneRLMApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Use a normal window even when a tray exists.
        bool forceWindow = false;
        // Show the popup at start as if the tray item had been activated, print
        // "orlune-first-frame" on standard output once its first frame has been
        // painted, and quit (start-up measurements).
        bool exitAfterFirstFrame = false;
    };

    // The options the command line and environment ask for: --window, and
    // ORLUNE_EXIT_AFTER_FIRST_FRAME set to anything but empty or "0".
    static Options optionsFromCommandLine(const QStringList& arguments);

    explicit OrluneRLMApp(Options options, OrluneRLMMenu::Seams seams = {},
                          QObject* parent = nullptr);
    ~OrluneRLMApp() override;

    // Creates the tray item (or shows the window).
    void start();

    // The menu, which is the popup or the window itself.
    OrluneRLMMenu* menu() const { return window_.get(); }
    bool usesTray() const { return tray_ != nullptr; }
    // The tray item, or null without one.
    QSystemTrayIcon* trayItem() const { return tray_; }
    // The tray item's context menu, or null (macOS has none).
    QMenu* trayMenu() const { return trayMenu_.get(); }
    // Whether the tray item shows that an answer is waiting to be read.
    bool showsAnswerBadge() const { return answerBadge_; }

    // Shows the popup under the tray item (or raises the window).
    void showMenuWindow();

    // Whether a tray activation of this kind shows or hides the popup: only a
    // plain click. Double clicks also deliver a click first, so acting on
    // both would open the popup and close it again.
    static bool togglesPopup(QSystemTrayIcon::ActivationReason reason);

    // Where a popup of `size` opens for a tray item at `anchor`: centred
    // under it, or above it when there is no room below (a panel at the
    // bottom), moved as little as needed to stay inside `available`.
    static QPoint popupPosition(const QRect& anchor, const QSize& size, const QRect& available);
    // The tallest popup that fits inside `available` below or above a tray
    // item at `anchor` without covering it (at least 1).
    static int popupHeightLimit(const QRect& anchor, const QRect& available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void togglePopup();
    void setAnswerBadge(bool shown);
    void placePopup();
    void keepPopupPlaced();
    // The usable area of the screen the tray item is on.
    std::optional<QRect> popupScreenArea() const;
    void hideIfInactive();
    void relaunch();
    void restoreWindowPlace();
    void saveWindowPlace();

    Options options_;
    std::unique_ptr<OrluneRLMMenu> window_;
    QSystemTrayIcon* tray_ = nullptr;
    // The tray item's area when the popup was last placed.
    QRect popupAnchor_;
    std::unique_ptr<QMenu> trayMenu_;
    bool firstFrameReported_ = false;
    bool answerBadge_ = false;
    // Absent when the platform reports no data folder.
    std::optional<WindowPlacement> placement_;
};

} // namespace orlune::rlm
