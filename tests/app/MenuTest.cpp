// The menu window: which screen shows when, what each appearance tests and
// starts, and the settings sheet.

#include "sync/ShadowSync.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "views/ChatView.hpp"
#include "views/MenuScreen.hpp"
#include "views/MessageRow.hpp"
#include "views/SettingsView.hpp"
#include "views/ViewStyle.hpp"

#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::OrluneRLMMenu;

class MenuTest : public AppTest {
protected:
    // The line that names what answers reads the model server and model from
    // the environment too; a caller's own settings must not leak in.
    void SetUp() override {
        AppTest::SetUp();
        qunsetenv("VEYRLINK_BASE_URL");
        qunsetenv("ORLUNE_RLM_MODEL");
    }

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

TEST(MenuScreenTest, TheKeySetupThenTheAccessScreenThenTheWorkingScreen) {
    using rlm::MenuScreen;
    const struct {
        const char* name;
        rlm::MenuScreenFacts facts;
        MenuScreen expected;
    } cases[] = {
        {"nothing asked for", {}, MenuScreen::working},
        {"a server elsewhere without a key", {false, false, true, false}, MenuScreen::keySetup},
        {"its key given", {true, false, true, false}, MenuScreen::working},
        {"going on without one", {false, true, true, false}, MenuScreen::working},
        {"the store refused", {false, false, false, true}, MenuScreen::access},
        {"the key is asked for first", {false, false, true, true}, MenuScreen::keySetup},
        {"then the access", {true, false, true, true}, MenuScreen::access},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rlm::menuScreenFor(c.facts), c.expected) << c.name;
    }
}

TEST_F(MenuTest, WithoutKeyTheChatOpensAtOnceUnlessARemoteServerNeedsOne) {
    makeStore();
    installAnsweringHelper("From the index.");
    const struct {
        const char* name;
        std::optional<std::string> server;
        bool asksForKey;
        const char* answerSource;
    } cases[] = {
        {"no server: answers from the index", std::nullopt, false,
         "Answers come from your indexed messages."},
        {"a server on this machine", "http://127.0.0.1:8080/v1", false,
         "Answers come from openai/gpt-4o-mini on 127.0.0.1:8080."},
        {"a server elsewhere", "https://models.example.com/v1", true,
         "Answers come from openai/gpt-4o-mini on models.example.com."},
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
        EXPECT_TRUE(showsChild(menu.get(), "answerSourceLabel"));
        EXPECT_TRUE(
            rlm::ViewStyle::unwrapped(child<QLabel>(menu.get(), "answerSourceLabel")->text())
                .startsWith(c.answerSource))
            << "names what answers";
        if (c.asksForKey) {
            // The choice is remembered for this server, and only for it.
            auto again = makeMenu();
            again->show();
            EXPECT_TRUE(showsChild(again.get(), "workingScreen")) << "not asked again";
            ASSERT_TRUE(waitUntil([&] { return !again->syncModel().isSyncing(); }));
            rlm::AppConfig other = config_.load();
            other.modelServerAddress = "https://other.example.com/v1";
            config_.save(other);
            auto next = makeMenu();
            next->show();
            EXPECT_TRUE(showsChild(next.get(), "setupScreen")) << "another server asks again";
            EXPECT_TRUE(
                child<QLabel>(next.get(), "setupPrompt")->text().contains("other.example.com"))
                << "worded for the server configured";
            EXPECT_FALSE(showsChild(next.get(), "gatewayLink")) << "not the gateway's key";
            ASSERT_TRUE(waitUntil([&] { return !next->syncModel().isSyncing(); }));
        }
        EXPECT_TRUE(menu->chatView()->isReady());
        if (!c.server) {
            saveScreenshot(menu.get(), "working-no-key");
        }
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
    EXPECT_TRUE(rlm::ViewStyle::unwrapped(child<QLabel>(menu.get(), "answerSourceLabel")->text())
                    .endsWith("on models.example.com."));
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
#endif
    EXPECT_TRUE(line.contains("Choose")) << line.toStdString();
    for (const char* word : {"Full Disk Access", "Shadow DB", "shadow.db", "Settings"}) {
        EXPECT_FALSE(line.contains(word)) << word;
    }
    EXPECT_EQ(textColour(child<QLabel>(menu.get(), "syncStatusLine")),
              rlm::ViewStyle::colour(rlm::ViewStyle::Tint::red))
        << "an error, not a hint";
    EXPECT_FALSE(showsChild(menu.get(), "openSettingsButton"));
    EXPECT_TRUE(menu->syncModel().hasIndex());
    EXPECT_TRUE(menu->chatView()->isReady()) << "the existing index can still be asked";
    EXPECT_TRUE(showsChild(menu.get(), "settingsButton"));
    EXPECT_TRUE(showsChild(menu.get(), "quitButton"));
    ASSERT_TRUE(showsChild(menu.get(), "chooseStoreButton"));
    saveScreenshot(menu.get(), "no-store");
}

TEST_F(MenuTest, ChooseFindsAStoreElsewhereAndRemembersIt) {
    const std::string elsewhere = folder_.file("copies/chat.db");
    std::filesystem::create_directories(folder_.file("copies"));
    samplestore::SampleStoreOptions options;
    options.messageCount = 40;
    samplestore::buildSampleStore(elsewhere, options);
    QStringList answers = {QString(), QString::fromStdString(elsewhere)};
    auto seams = menuSeams();
    seams.chooseStore = [&](QWidget*) { return answers.takeFirst(); };
    OrluneRLMMenu menu(std::move(seams));
    menu.show();
    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().isSyncing(); }));
    ASSERT_TRUE(menu.syncModel().storeMissing());

    auto* choose = child<QPushButton>(&menu, "chooseStoreButton");
    QTest::mouseClick(choose, Qt::LeftButton); // cancelled
    EXPECT_TRUE(menu.syncModel().storeMissing());
    EXPECT_EQ(config_.load().chatStorePath, std::nullopt);
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return menu.syncModel().hasSynced(); }));
    EXPECT_GT(menu.syncModel().messageCount(), 0);
    EXPECT_FALSE(showsChild(&menu, "chooseStoreButton"));
    EXPECT_EQ(config_.load().chatStorePath, elsewhere);

    auto next = makeMenu();
    EXPECT_EQ(next->syncModel().chatDBPath().toStdString(), elsewhere) << "remembered";
}

TEST_F(MenuTest, AfterAFailureTheSyncIsTriedAgainBySelfAndSaysWhen) {
    makeStore();
    // The index's folder is taken by a file: every sync fails until it goes,
    // and the store itself never changes.
    writeFile(folder_.file("occupied"), "a file where the database's folder should be");
    auto seams = menuSeams();
    seams.sync.resolveShadowDBPath = [this] { return folder_.file("occupied/shadow.db"); };
    seams.sync.firstRetryDelay = std::chrono::milliseconds(300);
    OrluneRLMMenu menu(std::move(seams));
    menu.show();
    ASSERT_TRUE(waitUntil([&] { return !menu.syncModel().lastError().isEmpty(); }));
    ASSERT_TRUE(menu.syncModel().nextRetryAt().isValid());
    EXPECT_TRUE(statusLine(menu).contains("Trying again at " +
                                          menu.syncModel().nextRetryAt().toString("HH:mm:ss")))
        << statusLine(menu).toStdString();
    ASSERT_TRUE(waitUntil([&] { return eventCount("shadow_sync_failed") >= 2; }))
        << "tried again without a click";

    std::filesystem::remove(folder_.file("occupied"));
    std::filesystem::create_directories(folder_.file("occupied"));
    ASSERT_TRUE(waitUntil([&] { return menu.syncModel().hasSynced(); }));
    EXPECT_FALSE(menu.syncModel().nextRetryAt().isValid());
    EXPECT_FALSE(statusLine(menu).contains("Trying again"));
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

TEST_F(MenuTest, AFirstSyncShowsProgressAndAQuestionAskedMeanwhileIsAnswered) {
    storeKey("sk-test");
    makeStore(1234);
    installAnsweringHelper("From the first messages.");
    auto menu = makeMenu();
    menu->show();

    ASSERT_TRUE(showsChild(menu.get(), "workingScreen"));
    EXPECT_TRUE(menu->syncModel().isSyncing());
    EXPECT_TRUE(statusLine(*menu).startsWith("Indexing messages"))
        << statusLine(*menu).toStdString();
    EXPECT_FALSE(child<QPushButton>(menu.get(), "syncNowButton")->isEnabled());
    EXPECT_FALSE(menu->chatView()->isReady()) << "nothing indexed yet";
    reopen(*menu);
    EXPECT_EQ(eventCount("shadow_sync_start"), 1u) << "reopening during a sync starts nothing";

    // Asked before anything is indexed: held, said so, and answered.
    auto* field = child<QPlainTextEdit>(menu.get(), "questionField");
    QTest::keyClicks(field, "Who moved the van?");
    EXPECT_TRUE(child<QPushButton>(menu.get(), "sendButton")->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(field->toPlainText().isEmpty()) << "the question was taken";
    EXPECT_TRUE(menu->chatView()->model().isWaitingForIndex());
    EXPECT_TRUE(showsChild(menu.get(), "workingRow"));
    EXPECT_TRUE(
        child<QLabel>(menu.get(), "workingLabel")->text().startsWith("Waiting for the first"));
    saveScreenshot(menu.get(), "first-sync-question-held");
    ASSERT_TRUE(waitUntil([&] { return menu->chatView()->rows().size() == 2; }));
    EXPECT_EQ(menu->chatView()->rows()[1]->message().text, "From the first messages.");

    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    EXPECT_FALSE(showsChild(menu.get(), "indexGrowingNote")) << "the index is complete";
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

TEST_F(MenuTest, AFittedMenuStaysWithinItsHeightLimitAndTheConversationScrolls) {
    makeStore();
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(12, std::string(300, 'w') + " a long message ")});
    auto menu = makeMenu();
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    QTest::mouseClick(child<QPushButton>(menu.get(), "sessionsButton"), Qt::LeftButton);
    menu->setHeightLimit(560);
    QTest::qWait(50);
    saveScreenshot(menu.get(), "popup-height-limit");

    EXPECT_LE(menu->height(), 560);
    auto* conversation = child<QScrollArea>(menu.get(), "conversationList");
    EXPECT_GT(conversation->verticalScrollBar()->maximum(), 0) << "the conversation scrolls";
    for (const char* name : {"sendButton", "questionField", "settingsButton", "quitButton"}) {
        auto* widget = child<QWidget>(menu.get(), name);
        const QRect area(widget->mapTo(menu.get(), QPoint(0, 0)), widget->size());
        EXPECT_TRUE(menu->rect().contains(area)) << name << " is within reach";
    }

    // Less room than the least the content needs: the screens scroll, and
    // nothing is drawn over anything else.
    for (const int limit : {560, 320}) {
        SCOPED_TRACE(limit);
        menu->setHeightLimit(limit);
        QTest::qWait(50);
        EXPECT_LE(menu->height(), limit);
        if (limit == 320) {
            saveScreenshot(menu.get(), "popup-height-limit-small");
            auto* screens = child<QScrollArea>(menu.get(), "screensArea");
            EXPECT_GT(screens->verticalScrollBar()->maximum(), 0) << "the screens scroll";
        }
        const char* parts[] = {"syncStatusLine", "answerSourceLabel", "sessionTitleLabel",
                               "sessionList",    "conversationList",  "chatErrorLabel",
                               "questionField",  "sendButton"};
        std::vector<std::pair<const char*, QRect>> shown;
        for (const char* name : parts) {
            auto* widget = child<QWidget>(menu.get(), name);
            if (widget->isVisibleTo(menu.get())) {
                shown.emplace_back(name,
                                   QRect(widget->mapTo(menu.get(), QPoint(0, 0)), widget->size()));
            }
        }
        for (size_t a = 0; a < shown.size(); ++a) {
            for (size_t b = a + 1; b < shown.size(); ++b) {
                EXPECT_FALSE(shown[a].second.intersects(shown[b].second))
                    << shown[a].first << " overlaps " << shown[b].first;
            }
        }
        // The question field stays in view; what scrolls away is the top.
        for (const char* name : {"questionField", "sendButton", "settingsButton", "quitButton"}) {
            auto* widget = child<QWidget>(menu.get(), name);
            EXPECT_TRUE(menu->rect().contains(
                QRect(widget->mapTo(menu.get(), QPoint(0, 0)), widget->size())))
                << name << " is within reach";
        }
    }

    menu->setHeightLimit(0);
    QTest::qWait(50);
    EXPECT_GT(menu->height(), 560) << "without a limit it fits its content";
}

TEST_F(MenuTest, AWindowCanBeMadeShorterThanItsContentAndTheConversationScrolls) {
    makeStore();
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(12, std::string(300, 'w') + " a long message ")});
    auto menu = makeMenu();
    menu->setFittedToContent(false);
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    QTest::qWait(50);
    const int wanted = menu->layout()->totalHeightForWidth(menu->width());
    EXPECT_LT(menu->minimumHeight(), wanted - 200) << "the conversation gives way";
    // The minimum may still move while the status line settles after the
    // sync; the window must follow it down to whatever it finally is.
    EXPECT_TRUE(waitUntil([&] {
        menu->resize(menu->width(), menu->minimumHeight());
        QTest::qWait(20);
        return menu->height() == menu->minimumHeight();
    })) << menu->height()
        << " against a minimum of " << menu->minimumHeight();
    auto* conversation = child<QScrollArea>(menu.get(), "conversationList");
    EXPECT_GT(conversation->verticalScrollBar()->maximum(), 0) << "the conversation scrolls";
    for (const char* name : {"sendButton", "questionField", "quitButton"}) {
        auto* widget = child<QWidget>(menu.get(), name);
        const QRect area(widget->mapTo(menu.get(), QPoint(0, 0)), widget->size());
        EXPECT_TRUE(menu->rect().contains(area)) << name << " is within reach";
    }
    saveScreenshot(menu.get(), "window-short");
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
    EXPECT_TRUE(line->text().startsWith("Sync failed: " + menu.syncModel().lastError()))
        << line->text().toStdString();
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
    EXPECT_TRUE(child<QPushButton>(sheet, "settingsSaveButton")->isEnabled())
        << "removing the key can be saved";
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
