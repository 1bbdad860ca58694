// The menu window: which screen shows when, what each appearance tests and
// starts, and the settings sheet.

#include "sync/ShadowSync.hpp"
#include "views/ChatView.hpp"
#include "views/MessageRow.hpp"
#include "views/SettingsView.hpp"
#include "views/ViewStyle.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
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

TEST_F(MenuTest, WithoutKeyTheChatOpensAtOnceUnlessARemoteServerNeedsOne) {
    makeStore();
    installAnsweringHelper("From the index.");
    const struct {
        const char* name;
        std::optional<std::string> server;
        bool asksForKey;
    } cases[] = {
        {"no server: answers from the index", std::nullopt, false},
        {"a server on this machine", "http://127.0.0.1:8080/v1", false},
        {"a server elsewhere", "https://models.example.com/v1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rlm::AppConfig settings;
        settings.modelServerAddress = c.server;
        config_.save(settings);
        auto menu = makeMenu();
        menu->show();
        EXPECT_EQ(child<QLabel>(menu.get(), "menuTitle")->text(), "OrluneRLM");
        EXPECT_EQ(showsChild(menu.get(), "setupScreen"), c.asksForKey);
        EXPECT_EQ(showsChild(menu.get(), "workingScreen"), !c.asksForKey);
        EXPECT_FALSE(showsChild(menu.get(), "accessScreen"));
        EXPECT_TRUE(showsChild(menu.get(), "settingsButton")) << "no screen traps";
        EXPECT_TRUE(showsChild(menu.get(), "quitButton"));
        EXPECT_TRUE(openedAddresses_.empty());
        // The index does not need a key.
        ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
        if (c.asksForKey) {
            saveScreenshot(menu.get(), "setup");
            QTest::mouseClick(child<QPushButton>(menu.get(), "continueWithoutKeyButton"),
                              Qt::LeftButton);
            ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
        }
        EXPECT_TRUE(showsChild(menu.get(), "noKeyNotice")) << "says what a key would add";
        EXPECT_TRUE(menu->chatView()->isReady());
        if (!c.server) {
            saveScreenshot(menu.get(), "working-no-key");
        }
    }
}

TEST(MenuKeyTest, OnlyAServerElsewhereAsksForAKeyFirst) {
    const struct {
        std::optional<std::string> address;
        bool asks;
    } cases[] = {
        {std::nullopt, false},
        {"  ", false},
        {"http://127.0.0.1:8080/v1", false},
        {"http://127.1.2.3:8080/v1", false},
        {"http://LOCALHOST:11434/v1", false},
        {"http://ollama.localhost/v1", false},
        {"http://[::1]:8080/v1", false},
        {"127.0.0.1:8080/v1", false},
        {"https://api.veyrlink.com/v1", true},
        {"http://192.168.1.20:8080/v1", true},
        {"http://localhost.example.com/v1", true},
        {"http://[::2]:8080/v1", true},
    };
    for (const auto& c : cases) {
        rlm::AppConfig settings;
        settings.modelServerAddress = c.address;
        EXPECT_EQ(OrluneRLMMenu::asksForKeyFirst(settings), c.asks) << c.address.value_or("(none)");
    }
}

TEST_F(MenuTest, ReturnSavesTheKeyAndASyncStartsAtOnce) {
    makeStore();
    rlm::AppConfig remote;
    remote.modelServerAddress = "https://models.example.com/v1";
    config_.save(remote);
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
    const size_t syncsBefore = eventCount("shadow_sync_start");
    auto* keyField = child<QLineEdit>(menu.get(), "apiKeyField");
    QTest::keyClicks(keyField, "  sk-live-123\t ");
    QTest::keyClick(keyField, Qt::Key_Return);

    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-live-123");
    EXPECT_TRUE(menu->hasApiKey());
    EXPECT_FALSE(showsChild(menu.get(), "setupScreen"));
    EXPECT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_FALSE(showsChild(menu.get(), "noKeyNotice"));
    EXPECT_EQ(eventCount("shadow_sync_start"), syncsBefore + 1) << "no Sync Now needed";
    EXPECT_TRUE(openedAddresses_.empty());
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
}

TEST_F(MenuTest, AMissingStoreIsSaidPlainlyAndTheIndexStaysUsable) {
    storeKey("sk-test");
    makeStore();
    // An index from an earlier run, then the store goes away.
    std::filesystem::create_directories(folder_.dataFolder() + "/OrluneRLM");
    core::ShadowSync(storePath(), folder_.dataFolder() + "/OrluneRLM/shadow.db").performSync();
    std::filesystem::remove(storePath());
    auto menu = makeMenu();
    menu->show();

    ASSERT_TRUE(showsChild(menu.get(), "workingScreen")) << "the person is not locked out";
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
    EXPECT_TRUE(menu->syncModel().storeMissing());
    const QString line = statusLine(*menu);
    const QString path = QString::fromStdString(storePath());
#ifdef Q_OS_MACOS
    // The Mac's own words for its Messages history, with no hint to change
    // the path: there it is where Messages keeps it.
    EXPECT_TRUE(line.startsWith("No Messages history found at " + path + "."))
        << line.toStdString();
#else
    EXPECT_TRUE(line.startsWith("No message store found at " + path)) << line.toStdString();
    EXPECT_TRUE(line.contains("CHAT_DB_PATH")) << line.toStdString();
    EXPECT_TRUE(line.contains("Settings")) << line.toStdString();
#endif
    for (const char* word : {"Full Disk Access", "Shadow DB", "shadow.db"}) {
        EXPECT_FALSE(line.contains(word)) << word;
    }
    EXPECT_FALSE(showsChild(menu.get(), "openSettingsButton"));
    EXPECT_TRUE(menu->syncModel().hasIndex());
    EXPECT_TRUE(menu->chatView()->isReady()) << "the existing index can still be asked";
    EXPECT_TRUE(showsChild(menu.get(), "settingsButton"));
    EXPECT_TRUE(showsChild(menu.get(), "quitButton"));
    saveScreenshot(menu.get(), "no-store");
}

TEST_F(MenuTest, ContactsTheSyncSkippedAreSaidUnderTheStatus) {
    clearedEnvironment_.set("ADDRESS_BOOK_PATH", std::nullopt);
    makeStore();
    const std::string card = folder_.file("contacts/my people.vcf");
    rlm::AppConfig stored{"sk-test"};
    stored.contactsFiles = {card};
    config_.save(stored);
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));

    ASSERT_TRUE(showsChild(menu.get(), "contactWarningsLabel"));
    const QString line =
        rlm::ViewStyle::unwrapped(child<QLabel>(menu.get(), "contactWarningsLabel")->text());
    EXPECT_TRUE(line.startsWith("Some contacts could not be read")) << line.toStdString();
    EXPECT_TRUE(line.contains(QString::fromStdString(card))) << line.toStdString();
    EXPECT_TRUE(child<QLabel>(menu.get(), "syncStatusLine")->isVisible()) << "the sync succeeded";
    saveScreenshot(menu.get(), "contacts-skipped");

    // Removed in the settings: a sync follows the save and the line goes.
    QTest::mouseClick(child<QPushButton>(menu.get(), "settingsButton"), Qt::LeftButton);
    QPointer<rlm::SettingsView> sheet = menu->settingsSheet();
    ASSERT_NE(sheet, nullptr);
    child<QListWidget>(sheet, "settingsContactsList")->setCurrentRow(0);
    child<QPushButton>(sheet, "settingsRemoveContactsButton")->click();
    QTest::mouseClick(child<QPushButton>(sheet, "settingsSaveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !sheet || !sheet->isVisible(); }));
    ASSERT_TRUE(waitUntil([&] { return !showsChild(menu.get(), "contactWarningsLabel"); }));
    EXPECT_TRUE(menu->syncModel().contactWarnings().isEmpty());
}

TEST_F(MenuTest, ARefusalExplainsTheGrantAndOpensTheSettingsOnlyWhenAsked) {
    storeKey("sk-test");
    makeStore();
    bool refused = true;
    auto seams = menuSeams();
    seams.explainsAccessGrant = true;
    seams.access.storeAccess.statError = [&refused](const std::string&) {
        return refused ? EPERM : 0;
    };
    OrluneRLMMenu menu(std::move(seams));
    QSignalSpy relaunch(&menu, &OrluneRLMMenu::relaunchRequested);
    menu.show();
    ASSERT_TRUE(showsChild(&menu, "accessScreen"));
    EXPECT_EQ(child<QLabel>(&menu, "accessHeading")->text(), "Grant Full Disk Access");
    const QString steps = child<QLabel>(&menu, "accessSteps")->text();
    EXPECT_TRUE(steps.contains("Click +")) << steps.toStdString();
    EXPECT_TRUE(steps.contains("Quit & Reopen")) << steps.toStdString();
    EXPECT_EQ(child<QLabel>(&menu, "accessAppLocation")->text(),
              "This copy of OrluneRLM: " + QCoreApplication::applicationFilePath());
    EXPECT_EQ(child<QLabel>(&menu, "accessErrorLabel")->text(),
              QString::fromStdString("Last error: " + std::string(std::strerror(EPERM)) + ": " +
                                     rlm::FullDiskAccessChecker::kRefusedMessage));
    EXPECT_EQ(eventCount("fda_chat_db_denied"), 1u);
    EXPECT_TRUE(openedAddresses_.empty()) << "the settings would hide these instructions";
    EXPECT_TRUE(menu.staysOpenWhenInactive()) << "its steps are followed in System Settings";
    EXPECT_FALSE(showsChild(&menu, "otherSettingsButton"));
    EXPECT_TRUE(showsChild(&menu, "settingsButton")) << "no screen traps";
    EXPECT_TRUE(showsChild(&menu, "quitButton"));
    saveScreenshot(&menu, "access-request");

    reopen(menu);
    EXPECT_TRUE(openedAddresses_.empty());
    EXPECT_EQ(eventCount("fda_chat_db_denied"), 2u) << "each appearance tests again";

    // The button opens the first address and offers the other one, which
    // opens only when asked for.
    QTest::mouseClick(child<QPushButton>(&menu, "openSettingsButton"), Qt::LeftButton);
    EXPECT_EQ(openedAddresses_,
              std::vector<std::string>{rlm::FullDiskAccessViewModel::kSettingsAddresses[0]});
    ASSERT_TRUE(showsChild(&menu, "otherSettingsButton"));
    QTest::mouseClick(child<QPushButton>(&menu, "otherSettingsButton"), Qt::LeftButton);
    EXPECT_EQ(openedAddresses_.back(), rlm::FullDiskAccessViewModel::kSettingsAddresses[1]);
    EXPECT_FALSE(showsChild(&menu, "otherSettingsButton"));

    QTest::mouseClick(child<QPushButton>(&menu, "quitAndReopenButton"), Qt::LeftButton);
    EXPECT_EQ(relaunch.count(), 1);

    refused = false;
    QTest::mouseClick(child<QPushButton>(&menu, "checkAccessButton"), Qt::LeftButton);
    EXPECT_TRUE(showsChild(&menu, "workingScreen"));
    EXPECT_FALSE(showsChild(&menu, "accessScreen"));
    EXPECT_FALSE(menu.staysOpenWhenInactive());
    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().isSyncing(); }));
}

TEST_F(MenuTest, OffTheMacARefusedStoreIsASyncFailureOnTheWorkingScreen) {
    storeKey("sk-test");
    makeStore();
    auto seams = menuSeams();
    seams.explainsAccessGrant = false;
    seams.access.storeAccess.statError = [](const std::string&) { return EPERM; };
    OrluneRLMMenu menu(std::move(seams));
    menu.show();
    EXPECT_TRUE(showsChild(&menu, "workingScreen"));
    EXPECT_FALSE(showsChild(&menu, "accessScreen"));
    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().isSyncing(); }));
}

TEST_F(MenuTest, ColoursFollowAPaletteChange) {
    storeKey("sk-test");
    makeStore();
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
    auto* secondary = child<QLabel>(menu.get(), "sessionTitleLabel");
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

TEST_F(MenuTest, AFirstSyncShowsProgressAndAskingWaitsOnlyForAnEmptyIndex) {
    storeKey("sk-test");
    makeStore(1234);
    auto menu = makeMenu();
    menu->show();

    ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_TRUE(menu->syncModel().isSyncing());
    EXPECT_TRUE(statusLine(*menu).startsWith("Indexing messages"))
        << statusLine(*menu).toStdString();
    EXPECT_FALSE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_FALSE(menu->chatView()->isReady()) << "nothing indexed yet";
    saveScreenshot(menu.get(), "first-sync");
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u) << "reopening during a sync starts nothing";

    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    // Messages without any text are not indexed, so the count is a little lower.
    const qint64 count = menu->syncModel().messageCount();
    EXPECT_GT(count, 1000);
    const QString expected = QStringLiteral("Up to date · %1 · %2 messages")
                                 .arg(menu->syncModel().lastSyncedAt().toString("HH:mm"),
                                      rlm::SyncStatusView::formatCount(count));
    EXPECT_EQ(statusLine(*menu), expected);
    EXPECT_TRUE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_TRUE(menu->chatView()->isReady());
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u) << "an unchanged store is not synced again";

    QTest::mouseClick(child<QPushButton>(menu.get(), "syncNowButton"), Qt::LeftButton);
    EXPECT_EQ(eventCount("shadow_sync_start"), 2u);
    EXPECT_FALSE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_TRUE(menu->chatView()->isReady()) << "the index can be asked while a sync runs";
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
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
    auto* field = child<QPlainTextEdit>(menu.get(), "questionField");
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
