#include "views/OrluneRLMApp.hpp"

#include "services/AppRelauncher.hpp"
#include "services/FileError.hpp"
#include "services/RLMHelperRunner.hpp"
#include "services/StructuredLogger.hpp"
#include "views/MacWindowSupport.hpp"
#include "views/OrluneIcon.hpp"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace orlune::rlm {

namespace {

constexpr const char* kTitle = "OrluneRLM";
constexpr int kPopupGap = 4;

// The screens' usable areas, the primary screen's first.
QList<QRect> availableAreas() {
    QList<QRect> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        areas.append(primary->availableGeometry());
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            areas.append(screen->availableGeometry());
        }
    }
    return areas;
}

} // namespace

OrluneRLMApp::Options OrluneRLMApp::optionsFromCommandLine(const QStringList& arguments) {
    Options options;
    options.forceWindow = arguments.contains(QStringLiteral("--window"));
    const QByteArray exitFlag = qgetenv("ORLUNE_EXIT_AFTER_FIRST_FRAME");
    options.exitAfterFirstFrame = !exitFlag.isEmpty() && exitFlag != "0";
    return options;
}

OrluneRLMApp::OrluneRLMApp(Options options, OrluneRLMMenu::Seams seams, QObject* parent)
    : QObject(parent), options_(options) {
    window_ = std::make_unique<OrluneRLMMenu>(std::move(seams));
    window_->setWindowTitle(QString::fromLatin1(kTitle));
    window_->setWindowIcon(OrluneIcon::applicationIcon());
    connect(window_.get(), &OrluneRLMMenu::quitRequested, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
    connect(window_.get(), &OrluneRLMMenu::relaunchRequested, this, &OrluneRLMApp::relaunch);
    connect(window_.get(), &OrluneRLMMenu::answerArrived, this, [this] {
        if (tray_ && !window_->isVisible()) {
            setAnswerBadge(true);
        }
    });
    window_->installEventFilter(this);
    try {
        placement_.emplace(WindowPlacement::defaultPath(),
                           StructuredLogger(StructuredLogger::kBundleIdentifier,
                                            StructuredLogger::kConfigCategory));
    } catch (const FileError&) {
        // No data folder: the window opens at the platform's place.
    }

    // Keys that work wherever the focus is in the window: Esc closes the
    // popup, Ctrl+N starts a new conversation, Ctrl+Q quits.
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    connect(close, &QShortcut::activated, this, [this] {
        if (tray_) {
            window_->hide();
        }
    });
    auto* newConversation = new QShortcut(QKeySequence::New, window_.get());
    connect(newConversation, &QShortcut::activated, this, [this] {
        if (window_->chatView()) {
            window_->chatView()->newConversation();
        }
    });
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), window_.get());
    connect(quit, &QShortcut::activated, window_.get(), &OrluneRLMMenu::quitRequested);
}

OrluneRLMApp::~OrluneRLMApp() {
    if (tray_) {
        tray_->hide();
    }
    if (window_->isVisible()) {
        saveWindowPlace();
    }
}

void OrluneRLMApp::start() {
    // The index follows the store from the start, whether or not the window
    // is ever opened.
    window_->startLiveIndex();
    if (!options_.forceWindow && QSystemTrayIcon::isSystemTrayAvailable()) {
        window_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        // A tool window of an inactive application would otherwise be hidden
        // on the Mac, before activateApplication() has taken effect.
        window_->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
        // The popup follows its content's size as screens change and the
        // conversation grows.
        window_->setFittedToContent(true);
        tray_ = new QSystemTrayIcon(OrluneIcon::trayIcon(), this);
        tray_->setToolTip(QString::fromLatin1(kTitle));
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (togglesPopup(reason)) {
                        togglePopup();
                    }
                });
#ifndef Q_OS_MACOS
        // Some Linux panels deliver only the context menu, never a click.
        trayMenu_ = std::make_unique<QMenu>();
        trayMenu_->addAction(QStringLiteral("Open"), this, &OrluneRLMApp::showMenuWindow);
        trayMenu_->addAction(QStringLiteral("Settings"), this, [this] {
            showMenuWindow();
            window_->showSettings();
        });
        trayMenu_->addAction(QStringLiteral("Sync Now"), this,
                             [this] { window_->syncModel().syncIfPossible(); });
        trayMenu_->addSeparator();
        trayMenu_->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
        tray_->setContextMenu(trayMenu_.get());
#endif
        tray_->show();
        QApplication::setQuitOnLastWindowClosed(false);
        if (options_.exitAfterFirstFrame) {
            showMenuWindow();
        }
    } else {
        window_->setFittedToContent(false);
        restoreWindowPlace();
        window_->show();
    }
}

bool OrluneRLMApp::togglesPopup(QSystemTrayIcon::ActivationReason reason) {
    return reason == QSystemTrayIcon::Trigger;
}

void OrluneRLMApp::setAnswerBadge(bool shown) {
    if (answerBadge_ == shown || !tray_) {
        return;
    }
    answerBadge_ = shown;
    tray_->setIcon(OrluneIcon::trayIcon(shown));
    tray_->setToolTip(shown ? QString::fromLatin1(kTitle) + QStringLiteral(": a new answer")
                            : QString::fromLatin1(kTitle));
}

void OrluneRLMApp::showMenuWindow() {
    setAnswerBadge(false);
    if (tray_) {
        placePopup();
    }
    macsupport::activateApplication();
    window_->show();
    if (tray_) {
        macsupport::keepPopupVisible(window_.get());
    }
    window_->raise();
    window_->activateWindow();
    window_->focusInput();
}

void OrluneRLMApp::restoreWindowPlace() {
    const std::optional<QRect> saved =
        placement_ ? placement_->load(WindowPlacement::kWindow) : std::nullopt;
    if (!saved) {
        return;
    }
    // The place is the content's area (geometry(), without the frame), so
    // that a window manager's title bar never shifts it from run to run;
    // the frame must fit on the screen too. The frame's size is known once
    // the native window exists, on some platforms only once it is shown.
    window_->winId();
    const QRect frameArea = window_->frameGeometry();
    const QRect area = window_->geometry();
    const QMargins frame(area.left() - frameArea.left(), area.top() - frameArea.top(),
                         frameArea.right() - area.right(), frameArea.bottom() - area.bottom());
    const QRect place = WindowPlacement::fitted(saved->marginsAdded(frame), availableAreas());
    // The content's minimum height wins over a smaller saved one.
    window_->setGeometry(place.marginsRemoved(frame));
}

void OrluneRLMApp::saveWindowPlace() {
    // The popup's place is the tray item's, not the person's choice.
    if (!placement_ || tray_) {
        return;
    }
    try {
        placement_->save(WindowPlacement::kWindow, window_->geometry());
    } catch (const FileError& error) {
        StructuredLogger(StructuredLogger::kBundleIdentifier, StructuredLogger::kConfigCategory)
            .warning("config_window_place_not_saved", {{"error", error.what()}});
    }
}

void OrluneRLMApp::relaunch() {
    const AppRelauncher::Command command = AppRelauncher::command(
        QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1),
        QCoreApplication::applicationPid(), RLMHelperRunner::processEnvironment(),
#ifdef Q_OS_MACOS
        true
#else
        false
#endif
    );
    if (!AppRelauncher::start(command)) {
        // Quitting now would leave the person without the application.
        StructuredLogger(StructuredLogger::kBundleIdentifier,
                         StructuredLogger::kFullDiskAccessCategory)
            .error("app_relaunch_failed", {{"program", command.program.toStdString()}});
        return;
    }
    QCoreApplication::quit();
}

void OrluneRLMApp::togglePopup() {
    if (window_->isVisible()) {
        window_->hide();
    } else {
        showMenuWindow();
    }
}

QPoint OrluneRLMApp::popupPosition(const QRect& anchor, const QSize& size, const QRect& available) {
    QPoint position(anchor.center().x() - size.width() / 2, anchor.bottom() + kPopupGap);
    // A panel at the bottom of the screen: open upwards instead.
    if (position.y() + size.height() - 1 > available.bottom()) {
        position.setY(anchor.top() - kPopupGap - size.height());
    }
    position.setX(qBound(available.left(), position.x(),
                         std::max(available.left(), available.right() + 1 - size.width())));
    position.setY(qBound(available.top(), position.y(),
                         std::max(available.top(), available.bottom() + 1 - size.height())));
    return position;
}

int OrluneRLMApp::popupHeightLimit(const QRect& anchor, const QRect& available) {
    const int below =
        available.bottom() + 1 - std::max(anchor.bottom() + kPopupGap, available.top());
    const int above = std::min(anchor.top() - kPopupGap, available.bottom() + 1) - available.top();
    return std::max({below, above, 1});
}

void OrluneRLMApp::placePopup() {
    // Before the first showing the window has no size of its own yet: let
    // its layout fit it to its content, so that the placing below keeps all
    // of it on the screen.
    popupAnchor_ = tray_ ? tray_->geometry() : QRect();
    if (!popupAnchor_.isValid()) {
        popupAnchor_ = QRect(QCursor::pos(), QSize(1, 1));
    }
    if (const std::optional<QRect> available = popupScreenArea()) {
        window_->setHeightLimit(popupHeightLimit(popupAnchor_, *available));
    }
    if (QLayout* content = window_->layout()) {
        content->activate();
    }
    window_->adjustSize();
    keepPopupPlaced();
}

std::optional<QRect> OrluneRLMApp::popupScreenArea() const {
    QScreen* screen = QGuiApplication::screenAt(popupAnchor_.center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return std::nullopt;
    }
    return screen->availableGeometry();
}

void OrluneRLMApp::keepPopupPlaced() {
    const QSize size = window_->size();
    const QRect available = popupScreenArea().value_or(QRect(QPoint(0, 0), size));
    window_->move(popupPosition(popupAnchor_, size, available));
}

void OrluneRLMApp::hideIfInactive() {
    if (!tray_ || !window_->isVisible()) {
        return;
    }
    // The settings sheet, the access screen and other windows of ours keep
    // the popup open.
    if (window_->staysOpenWhenInactive()) {
        return;
    }
    for (QWidget* active = QApplication::activeWindow(); active; active = active->parentWidget()) {
        if (active == window_.get()) {
            return;
        }
    }
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        return;
    }
    window_->hide();
}

bool OrluneRLMApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get()) {
        if (event->type() == QEvent::WindowDeactivate && tray_) {
            QTimer::singleShot(0, this, &OrluneRLMApp::hideIfInactive);
        } else if (event->type() == QEvent::Resize && tray_ && popupAnchor_.isValid()) {
            // The content grew (an answer, a wrapped line) while open.
            keepPopupPlaced();
        } else if (event->type() == QEvent::Hide && !tray_) {
            saveWindowPlace();
        } else if (event->type() == QEvent::Paint && options_.exitAfterFirstFrame &&
                   !firstFrameReported_) {
            firstFrameReported_ = true;
            // Queued, so that it runs once this frame has been painted and flushed.
            QTimer::singleShot(0, this, [] {
                std::fputs("orlune-first-frame\n", stdout);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace orlune::rlm
