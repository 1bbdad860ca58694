// The application shell: where the menu lives when there is no tray, where
// the window and the popup open, the start-up options, and the icon.

#include "services/WindowPlacement.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "views/OrluneIcon.hpp"
#include "views/OrluneRLMApp.hpp"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::OrluneRLMApp;

class AppShellTest : public AppTest {};

TEST_F(AppShellTest, WithoutATrayOrWhenAskedTheMenuOpensAsANormalWindow) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no tray";
    for (bool forceWindow : {false, true}) {
        OrluneRLMApp app(OrluneRLMApp::Options{forceWindow, false}, menuSeams());
        app.start();
        rlm::OrluneRLMMenu* window = app.menu();
        EXPECT_FALSE(app.usesTray());
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->isWindow());
        EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_EQ(window->windowTitle(), "OrluneRLM");
        EXPECT_TRUE(showsChild(window, "workingScreen")) << "no key needed to start";
        EXPECT_GE(window->width(), 300);
        if (forceWindow) {
            saveScreenshot(window, "window");
        }
    }
}

TEST_F(AppShellTest, TheWindowReopensWhereItWasAndAlwaysOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    rlm::WindowPlacement placement(rlm::WindowPlacement::defaultPath(),
                                   folder_.logger(rlm::StructuredLogger::kConfigCategory));
    QPoint last;
    {
        OrluneRLMApp app(OrluneRLMApp::Options{true, false}, menuSeams());
        app.start();
        app.menu()->resize(420, app.menu()->height() + 80);
        app.menu()->move(screen.left() + 30, screen.top() + 40);
        // The content's area: a frame's title bar must not shift it.
        const QRect chosen = app.menu()->geometry();
        app.menu()->hide();
        EXPECT_EQ(placement.load(rlm::WindowPlacement::kWindow), chosen) << "saved on hiding";
        app.menu()->show();
        app.menu()->move(screen.left() + 50, screen.top() + 60);
        last = app.menu()->geometry().topLeft();
    }
    {
        OrluneRLMApp app(OrluneRLMApp::Options{true, false}, menuSeams());
        app.start();
        EXPECT_EQ(app.menu()->geometry().topLeft(), last)
            << "saved at the end, and not moved by the frame";
        EXPECT_EQ(app.menu()->width(), 420);
    }

    // Saved on a screen that is gone, or larger than this one.
    const struct {
        const char* name;
        QRect saved;
    } elsewhere[] = {
        {"off to the right", {screen.right() + 500, screen.top() + 10, 400, 300}},
        {"above and left", {screen.left() - 2000, screen.top() - 2000, 400, 300}},
        {"larger than the screen", {0, 0, screen.width() * 2, screen.height() * 2}},
    };
    for (const auto& c : elsewhere) {
        SCOPED_TRACE(c.name);
        placement.save(rlm::WindowPlacement::kWindow, c.saved);
        OrluneRLMApp app(OrluneRLMApp::Options{true, false}, menuSeams());
        app.start();
        EXPECT_TRUE(screen.contains(QRect(app.menu()->pos(), app.menu()->size())))
            << "at " << app.menu()->x() << "," << app.menu()->y() << " size " << app.menu()->width()
            << "x" << app.menu()->height();
    }
}

TEST(AppShellPopupTest, ThePopupOpensUnderTheTrayItemAndInsideTheScreen) {
    const QRect screen(0, 0, 1440, 900);
    const QSize popup(360, 500);
    const struct {
        const char* name;
        QRect anchor;
        QPoint expected;
    } cases[] = {
        {"top panel, middle: centred under the item", {700, 0, 20, 24}, {529, 27}},
        {"top panel, right corner: pulled left", {1420, 0, 20, 24}, {1080, 27}},
        {"top panel, left corner: pulled right", {0, 0, 20, 24}, {0, 27}},
        {"bottom panel: opens upwards", {700, 876, 20, 24}, {529, 372}},
        {"no item area, cursor at the bottom right corner", {1439, 899, 1, 1}, {1080, 395}},
        {"item outside the screen: kept on it", {-200, -200, 20, 24}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint position = OrluneRLMApp::popupPosition(c.anchor, popup, screen);
        EXPECT_EQ(position, c.expected) << position.x() << "," << position.y();
        EXPECT_TRUE(screen.contains(QRect(position, popup)));
    }
    // Taller than the screen: its top stays reachable.
    EXPECT_EQ(OrluneRLMApp::popupPosition({700, 876, 20, 24}, {360, 1200}, screen).y(), 0);
}

TEST(AppShellPopupTest, APopupNoTallerThanItsLimitFitsBesideTheItemWithoutCoveringIt) {
    // A 1440x900 screen with a panel of 24 at the top or the bottom.
    const struct {
        const char* name;
        QRect anchor;
        QRect available;
    } cases[] = {
        {"top panel", {700, 0, 20, 24}, {0, 24, 1440, 876}},
        {"bottom panel", {700, 876, 20, 24}, {0, 0, 1440, 876}},
        {"item inside the area, low on it", {700, 700, 20, 24}, {0, 0, 1440, 900}},
        {"cursor in the middle", {720, 450, 1, 1}, {0, 0, 1440, 900}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int limit = OrluneRLMApp::popupHeightLimit(c.anchor, c.available);
        EXPECT_GT(limit, c.available.height() / 2 - 10) << "the larger side is used";
        // The content wanted far more than the limit (a long answer).
        const QSize popup(360, std::min(946, limit));
        const QRect placed(OrluneRLMApp::popupPosition(c.anchor, popup, c.available), popup);
        EXPECT_TRUE(c.available.contains(placed))
            << placed.y() << " to " << placed.bottom() << ", limit " << limit;
        EXPECT_FALSE(placed.intersects(c.anchor)) << "the item stays visible";
    }
}

TEST_F(AppShellTest, ShowingTheMenuPutsTheFocusWhereThePersonTypes) {
    const struct {
        const char* name;
        bool ready; // a key and a readable store: the working screen
        const char* field;
    } cases[] = {
        {"setup screen", false, "apiKeyField"},
        {"working screen", true, "questionField"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.ready) {
            storeKey("sk-test");
            makeStore();
        } else {
            // A server elsewhere without a key: the setup asks for one.
            rlm::AppConfig remote;
            remote.modelServerAddress = "https://models.example.com/v1";
            config_.save(remote);
        }
        OrluneRLMApp app(OrluneRLMApp::Options{true, false}, menuSeams());
        app.start();
        app.menu()->setFocus();
        app.showMenuWindow();
        QWidget* field = app.menu()->findChild<QWidget*>(c.field);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(app.menu()->focusWidget(), field);
        ASSERT_TRUE(waitUntil([&] { return !app.menu()->syncModel().isSyncing(); }));
    }
}

TEST_F(AppShellTest, StartIndexesAtOnceAndTheKeysWorkAnywhereInTheWindow) {
    storeKey("sk-test");
    makeStore();
    installAnsweringHelper("ok");
    OrluneRLMApp app(OrluneRLMApp::Options{true, false}, menuSeams());
    app.start();
    EXPECT_TRUE(app.menu()->syncModel().isLive()) << "a sync at start, before any click";
    ASSERT_TRUE(waitUntil([&] { return app.menu()->syncModel().hasSynced(); }));
    app.showMenuWindow();
    QApplication::setActiveWindow(app.menu());

    auto* field = child<QPlainTextEdit>(app.menu(), "questionField");
    QTest::keyClicks(field, "Hello?");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return app.menu()->chatView()->rows().size() == 2; }));
    QTest::keyClick(field, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(app.menu()->chatView()->rows().empty()) << "Ctrl+N: a new conversation";

    QSignalSpy quit(app.menu(), &rlm::OrluneRLMMenu::quitRequested);
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1) << "Ctrl+Q quits";
    // Esc in a normal window leaves it open (only the popup closes).
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(app.menu()->isVisible());
}

TEST(AppShellTrayTest, OnlyAPlainClickTogglesThePopup) {
    // A double click delivers a click first; toggling on both would open the
    // popup and close it at once.
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        bool toggles;
    } cases[] = {
        {QSystemTrayIcon::Trigger, true},  {QSystemTrayIcon::DoubleClick, false},
        {QSystemTrayIcon::Context, false}, {QSystemTrayIcon::MiddleClick, false},
        {QSystemTrayIcon::Unknown, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OrluneRLMApp::togglesPopup(c.reason), c.toggles) << c.reason;
    }
}

TEST(AppShellOptionsTest, CommandLineAndEnvironmentChooseTheOptions) {
    struct Case {
        QStringList arguments;
        std::optional<std::string> exitFlag;
        bool forceWindow;
        bool exitAfterFirstFrame;
    };
    const Case cases[] = {
        {{"OrluneRLM"}, std::nullopt, false, false},
        {{"OrluneRLM", "--window"}, std::nullopt, true, false},
        {{"OrluneRLM"}, "1", false, true},
        {{"OrluneRLM", "--window"}, "yes", true, true},
        {{"OrluneRLM"}, "0", false, false},
        {{"OrluneRLM"}, "", false, false},
    };
    for (const Case& item : cases) {
        ScopedEnv flag("ORLUNE_EXIT_AFTER_FIRST_FRAME", item.exitFlag);
        const OrluneRLMApp::Options options = OrluneRLMApp::optionsFromCommandLine(item.arguments);
        EXPECT_EQ(options.forceWindow, item.forceWindow) << item.arguments.join(' ').toStdString();
        EXPECT_EQ(options.exitAfterFirstFrame, item.exitAfterFirstFrame)
            << item.exitFlag.value_or("(unset)");
    }
}

TEST(OrluneIconTest, TheIconSetHasEverySizeIconutilExpects) {
    guiApplication();
    TempDir dir;
    const QString folder = QString::fromStdString(dir.file("OrluneRLM.iconset"));
    ASSERT_TRUE(rlm::OrluneIcon::writeIconset(folder));
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
        names << name;
        const QImage image(folder + "/" + name);
        const int points = name.section('_', 1).section('x', 0, 0).toInt();
        const int pixels = name.contains("@2x") ? 2 * points : points;
        EXPECT_EQ(image.size(), QSize(pixels, pixels)) << name.toStdString();
        EXPECT_EQ(image.pixelColor(pixels * 22 / 64, pixels * 30 / 64).alpha(), 255)
            << "the mark is drawn: " << name.toStdString();
    }
    EXPECT_EQ(names, (QStringList{"icon_128x128.png", "icon_128x128@2x.png", "icon_16x16.png",
                                  "icon_16x16@2x.png", "icon_256x256.png", "icon_256x256@2x.png",
                                  "icon_32x32.png", "icon_32x32@2x.png", "icon_512x512.png",
                                  "icon_512x512@2x.png"}));

    // A folder that cannot be made.
    testing::writeFile(dir.file("a file"), "");
    EXPECT_FALSE(rlm::OrluneIcon::writeIconset(QString::fromStdString(dir.file("a file/set"))));
}

TEST(OrluneIconTest, MaskIsOneColourWithTheMoonCutOut) {
    guiApplication();
    const QImage mask = rlm::OrluneIcon::draw(64, true).toImage();
    const QImage colour = rlm::OrluneIcon::draw(64, false).toImage();
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            const QColor pixel = mask.pixelColor(x, y);
            ASSERT_TRUE(pixel.alpha() == 0 ||
                        (pixel.red() == 0 && pixel.green() == 0 && pixel.blue() == 0))
                << x << "," << y;
        }
    }
    const QPoint bubble(10, 40), moon(22, 30), outside(1, 1);
    EXPECT_EQ(mask.pixelColor(bubble).alpha(), 255);
    EXPECT_EQ(mask.pixelColor(moon).alpha(), 0) << "the moon is cut out of the mask";
    EXPECT_EQ(mask.pixelColor(outside).alpha(), 0);
    EXPECT_EQ(colour.pixelColor(moon).alpha(), 255) << "and painted on the coloured icon";
    EXPECT_NE(colour.pixelColor(moon), colour.pixelColor(bubble));

    const QString folder = QStringLiteral(ORLUNE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(rlm::OrluneIcon::draw(128, false).save(folder + "/icon.png"));
    EXPECT_TRUE(rlm::OrluneIcon::draw(128, true).save(folder + "/icon-mask.png"));
    EXPECT_TRUE(rlm::OrluneIcon::draw(128, false, true).save(folder + "/icon-badge.png"));
}

// An answer that came while the popup was closed: a dot in the top right
// corner, red on the coloured mark, clear of the bubble around it.
TEST(OrluneIconTest, TheBadgeIsADotClearOfTheMark) {
    guiApplication();
    const QPoint dot(50, 14), ring(50, 27), bubble(10, 40);
    for (const bool mask : {false, true}) {
        SCOPED_TRACE(mask ? "mask" : "colour");
        const QImage plain = rlm::OrluneIcon::draw(64, mask).toImage();
        const QImage badged = rlm::OrluneIcon::draw(64, mask, true).toImage();
        EXPECT_EQ(badged.pixelColor(dot).alpha(), 255);
        EXPECT_EQ(plain.pixelColor(ring).alpha(), 255) << "the bubble is there without a badge";
        EXPECT_EQ(badged.pixelColor(ring).alpha(), 0) << "and kept clear of the dot";
        EXPECT_EQ(badged.pixelColor(bubble), plain.pixelColor(bubble));
        if (!mask) {
            const QColor red = badged.pixelColor(dot);
            EXPECT_GT(red.red(), 200);
            EXPECT_LT(red.green(), 80);
        }
    }
}

} // namespace
} // namespace orlune::testing
