// The menu window: which screen shows when, what each appearance tests and
// starts, and the settings sheet.

#include "OrluneRLM/views/ChatView.hpp"
#include "OrluneRLM/views/MessageRow.hpp"
#include "OrluneRLM/views/SettingsView.hpp"
#include "OrluneRLM/views/ViewStyle.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::OrluneRLMMenu;

class MenuTest : public AppTest {
protected:
    std::unique_ptr<OrluneRLMMenu> makeMenu() {
        return std::make_unique<OrluneRLMMenu>(menuSeams());
    }

    // Hides and shows the menu again, as closing and reopening the popup does.
    static void reopen(OrluneRLMMenu& menu) {
        menu.hide();
        menu.show();
    }

    static QString statusLine(const OrluneRLMMenu& menu) {
        return child<QLabel>(&menu, "syncStatusLine")->text();
    }
};

TEST_F(MenuTest, WithoutKeyShowsOnlyTheSetupAndTestsNothing) {
    makeStore();
    auto menu = makeMenu();
    menu->show();
    reopen(*menu);

    EXPECT_EQ(child<QLabel>(menu.get(), "menuTitle")->text(), "OrluneRLM");
    EXPECT_TRUE(showsChild(menu.get(), "setupScreen"));
    EXPECT_FALSE(showsChild(menu.get(), "accessScreen"));
    EXPECT_FALSE(showsChild(menu.get(), "workingScreen"));
    EXPECT_FALSE(loggedAnyStartingWith("fda_"));
    EXPECT_FALSE(loggedAnyStartingWith("shadow_sync"));
    EXPECT_TRUE(openedAddresses_.empty());
    saveScreenshot(menu.get(), "setup");
}

TEST_F(MenuTest, SavingAKeyMovesOnAndTestsAccessWithoutOpeningSettingsOrSyncing) {
    auto menu = makeMenu();
    menu->show();
    QTest::keyClicks(child<QLineEdit>(menu.get(), "apiKeyField"), "  sk-live-123\t ");
    QTest::mouseClick(child<QPushButton>(menu.get(), "setupSaveButton"), Qt::LeftButton);

    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-live-123");
    EXPECT_TRUE(menu->hasApiKey());
    EXPECT_FALSE(showsChild(menu.get(), "setupScreen"));
    EXPECT_TRUE(showsChild(menu.get(), "accessScreen"));
    EXPECT_EQ(child<QLabel>(menu.get(), "accessErrorLabel")->text(),
              "Last error: chat.db not found");
    EXPECT_EQ(eventCount("fda_chat_db_missing"), 1u);
    EXPECT_TRUE(openedAddresses_.empty());

    // With a store present, the key's arrival reaches the working screen, but
    // only the next appearance starts a sync.
    makeStore();
    QTest::mouseClick(child<QPushButton>(menu.get(), "checkAccessButton"), Qt::LeftButton);
    EXPECT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_EQ(eventCount("shadow_sync_start"), 0u);
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u);
    EXPECT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
}

TEST_F(MenuTest, WithoutAccessExplainsTheWayAndOpensTheSettingsOnlyWhenAsked) {
    storeKey("sk-test");
    auto menu = makeMenu();
    QSignalSpy relaunch(menu.get(), &OrluneRLMMenu::relaunchRequested);
    menu->show();
    ASSERT_TRUE(showsChild(menu.get(), "accessScreen"));
    EXPECT_EQ(child<QLabel>(menu.get(), "accessHeading")->text(), "Grant Full Disk Access");
    EXPECT_EQ(child<QLabel>(menu.get(), "accessExplanation")->text(),
              "OrluneRLM needs Full Disk Access to read your Messages database.");
    const QString steps = child<QLabel>(menu.get(), "accessSteps")->text();
    EXPECT_TRUE(steps.contains("Click +")) << steps.toStdString();
    EXPECT_TRUE(steps.contains("Quit & Reopen")) << steps.toStdString();
    EXPECT_EQ(child<QLabel>(menu.get(), "accessAppLocation")->text(),
              "This copy of OrluneRLM: " + QCoreApplication::applicationFilePath());
    EXPECT_EQ(child<QLabel>(menu.get(), "accessErrorLabel")->text(),
              "Last error: chat.db not found");
    EXPECT_TRUE(openedAddresses_.empty()) << "the settings would hide these instructions";
    EXPECT_FALSE(showsChild(menu.get(), "otherSettingsButton"));
    saveScreenshot(menu.get(), "access-request");

    reopen(*menu);
    EXPECT_TRUE(openedAddresses_.empty());
    EXPECT_EQ(eventCount("fda_chat_db_missing"), 2u) << "each appearance tests again";

    // The button opens the first address and offers the other one, which
    // opens only when asked for.
    QTest::mouseClick(child<QPushButton>(menu.get(), "openSettingsButton"), Qt::LeftButton);
    EXPECT_EQ(openedAddresses_,
              std::vector<std::string>{rlm::FullDiskAccessViewModel::kSettingsAddresses[0]});
    ASSERT_TRUE(showsChild(menu.get(), "otherSettingsButton"));
    QTest::mouseClick(child<QPushButton>(menu.get(), "otherSettingsButton"), Qt::LeftButton);
    EXPECT_EQ(openedAddresses_.back(), rlm::FullDiskAccessViewModel::kSettingsAddresses[1]);
    EXPECT_FALSE(showsChild(menu.get(), "otherSettingsButton"));

    QTest::mouseClick(child<QPushButton>(menu.get(), "quitAndReopenButton"), Qt::LeftButton);
    EXPECT_EQ(relaunch.count(), 1);

    makeStore();
    QTest::mouseClick(child<QPushButton>(menu.get(), "checkAccessButton"), Qt::LeftButton);
    EXPECT_EQ(eventCount("fda_chat_db_open_ok"), 1u);
    EXPECT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_FALSE(showsChild(menu.get(), "accessScreen"));
    EXPECT_EQ(child<QLabel>(menu.get(), "accessGrantedLabel")->text(), "Full Disk Access granted.");
    EXPECT_EQ(eventCount("shadow_sync_start"), 0u) << "Check Access starts no sync";
    EXPECT_EQ(statusLine(*menu), "No messages indexed yet.");
}

TEST_F(MenuTest, ARefusedStoreShowsTheRefusal) {
    storeKey("sk-test");
    makeStore();
    auto seams = menuSeams();
    seams.access.storeAccess.statError = [](const std::string&) { return EPERM; };
    OrluneRLMMenu menu(std::move(seams));
    menu.show();
    ASSERT_TRUE(showsChild(&menu, "accessScreen"));
    EXPECT_EQ(child<QLabel>(&menu, "accessErrorLabel")->text(),
              QString::fromStdString("Last error: " + std::string(std::strerror(EPERM)) + ": " +
                                     rlm::FullDiskAccessChecker::kRefusedMessage));
    EXPECT_EQ(eventCount("fda_chat_db_denied"), 1u);
    EXPECT_EQ(eventCount("shadow_sync_start"), 0u);
}

TEST_F(MenuTest, ColoursFollowAPaletteChange) {
    storeKey("sk-test");
    makeStore();
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
    auto* secondary = child<QLabel>(menu.get(), "accessGrantedLabel");
    auto* title = child<QLabel>(menu.get(), "menuTitle");
    const QColor lightSecondary = textColour(secondary);

    // A switch to dark mode: the platform hands the application a new palette.
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Highlight, QColor(10, 132, 255));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    EXPECT_EQ(textColour(title), QColor(235, 235, 235));
    EXPECT_EQ(textColour(secondary), rlm::ViewStyle::colour(rlm::ViewStyle::Tint::secondary));
    EXPECT_NE(textColour(secondary), lightSecondary);

    QApplication::setPalette(light);
    QCoreApplication::processEvents();
    EXPECT_EQ(textColour(secondary), lightSecondary);
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
}

TEST_F(MenuTest, AccessStartsOneSyncAndSyncNowWaitsForIt) {
    storeKey("sk-test");
    makeStore(1234);
    auto menu = makeMenu();
    menu->show();

    ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_TRUE(menu->syncModel().isSyncing());
    EXPECT_EQ(statusLine(*menu), "Syncing messages...");
    EXPECT_FALSE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_FALSE(menu->chatView()->isReady());
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u) << "reopening during a sync starts nothing";

    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    // Messages without any text are not indexed, so the count is a little lower.
    const qint64 count = menu->syncModel().messageCount();
    EXPECT_GT(count, 1000);
    EXPECT_EQ(statusLine(*menu), "Messages indexed: " + QString::number(count));
    EXPECT_TRUE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_TRUE(menu->chatView()->isReady());
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u) << "after a success only Sync Now syncs";

    QTest::mouseClick(child<QPushButton>(menu.get(), "syncNowButton"), Qt::LeftButton);
    EXPECT_EQ(eventCount("shadow_sync_start"), 2u);
    EXPECT_FALSE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_FALSE(menu->chatView()->isReady()) << "not ready again during a manual sync";
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
    EXPECT_TRUE(menu->chatView()->isReady());
}

TEST_F(MenuTest, FailedSyncIsShownInRedAndRetriedOnTheNextAppearance) {
    storeKey("sk-test");
    makeStore();
    writeFile(folder_.file("occupied"), "a file where the database's folder should be");
    auto seams = menuSeams();
    seams.sync.resolveShadowDBPath = [this] { return folder_.file("occupied/shadow.db"); };
    OrluneRLMMenu menu(std::move(seams));
    menu.show();

    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().isSyncing(); }));
    ASSERT_FALSE(menu.syncModel().lastError().isEmpty());
    auto* line = child<QLabel>(&menu, "syncStatusLine");
    EXPECT_EQ(line->text(), "Sync failed: " + menu.syncModel().lastError());
    EXPECT_EQ(textColour(line), rlm::ViewStyle::colour(rlm::ViewStyle::Tint::red));
    EXPECT_FALSE(menu.chatView()->isReady());

    reopen(menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 2u);
    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().isSyncing(); }));
}

TEST_F(MenuTest, SettingsSheetShowsTheStoredKeyAndClosesAfterSaving) {
    storeKey("sk-old");
    makeStore();
    installAnsweringHelper("Your sister wrote about the picnic on Sunday.");
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));

    // A short conversation for the picture of the working screen.
    auto* field = child<QLineEdit>(menu.get(), "questionField");
    QTest::keyClicks(field, "When is the picnic?");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return menu->chatView()->rows().size() == 2; }));
    saveScreenshot(menu->window(), "working");

    QTest::mouseClick(child<QPushButton>(menu.get(), "settingsButton"), Qt::LeftButton);
    rlm::SettingsView* sheet = menu->settingsSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->width(), 350);
    auto* keyField = child<QLineEdit>(sheet, "settingsApiKeyField");
    EXPECT_EQ(keyField->text(), "sk-old");
    EXPECT_EQ(keyField->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(showsChild(sheet, "settingsSavedLabel"));
    saveScreenshot(sheet, "settings");

    // Return in the field neither saves nor closes.
    keyField->clear();
    QTest::keyClicks(keyField, " sk-new ");
    QTest::keyClick(keyField, Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-old");

    QTest::mouseClick(child<QPushButton>(sheet, "settingsSaveButton"), Qt::LeftButton);
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-new");
    EXPECT_TRUE(showsChild(sheet, "settingsSavedLabel"));
    EXPECT_EQ(child<QLabel>(sheet, "settingsSavedLabel")->text(), "Saved!");
    EXPECT_TRUE(sheet->isVisible());
    QPointer<rlm::SettingsView> watched(sheet);
    EXPECT_TRUE(waitUntil([&] { return !watched || !watched->isVisible(); }))
        << "closes itself after a second";
    EXPECT_TRUE(menu->hasApiKey());
    EXPECT_TRUE(showsChild(menu.get(), "workingScreen"));
}

TEST_F(MenuTest, CancelClosesTheSheetWithoutSaving) {
    storeKey("sk-old");
    makeStore();
    auto menu = makeMenu();
    menu->show();
    QTest::mouseClick(child<QPushButton>(menu.get(), "settingsButton"), Qt::LeftButton);
    QPointer<rlm::SettingsView> sheet(menu->settingsSheet());
    ASSERT_TRUE(sheet);
    auto* keyField = child<QLineEdit>(sheet, "settingsApiKeyField");
    keyField->clear();
    EXPECT_FALSE(child<QPushButton>(sheet, "settingsSaveButton")->isEnabled());
    QTest::keyClicks(keyField, "sk-other");
    QTest::mouseClick(child<QPushButton>(sheet, "settingsCancelButton"), Qt::LeftButton);
    EXPECT_TRUE(!sheet || !sheet->isVisible());
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-old");
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
}

TEST_F(MenuTest, QuitAsksTheApplicationToEnd) {
    storeKey("sk-test");
    makeStore();
    auto menu = makeMenu();
    QSignalSpy quit(menu.get(), &OrluneRLMMenu::quitRequested);
    menu->show();
    QTest::mouseClick(child<QPushButton>(menu.get(), "quitButton"), Qt::LeftButton);
    EXPECT_EQ(quit.count(), 1);
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
}

} // namespace
} // namespace orlune::testing
