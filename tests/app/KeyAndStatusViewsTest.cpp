// The API-key setup view, the settings sheet on its own, and the sync status
// block.

#include "tests/app/AppTestSupport.hpp"
#include "tests/rlm/FakeCredentialStore.hpp"
#include "views/APIKeySetupView.hpp"
#include "views/GatewayLink.hpp"
#include "views/SettingsView.hpp"
#include "views/SyncStatusView.hpp"
#include "views/ViewStyle.hpp"

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>

namespace orlune::testing {
namespace {

using rlm::ViewStyle;
using Listed = rlm::SettingsViewModel::ChatListState;

class KeyViewsTest : public AppTest {
protected:
    rlm::APIKeySetupView::UrlOpener opener() {
        return [this](const QUrl& address) {
            openedAddresses_.push_back(address.toString().toStdString());
            return true;
        };
    }
    // Puts a file where the configuration's folder belongs, so saving fails.
    void blockConfigurationFolder() {
        std::filesystem::create_directories(folder_.dataFolder());
        writeFile(folder_.dataFolder() + "/OrluneRLM", "not a folder");
    }
    void unblockConfigurationFolder() {
        std::filesystem::remove(folder_.dataFolder() + "/OrluneRLM");
    }
};

TEST_F(KeyViewsTest, SetupStoresTheKeyTrimmedAndCompletes) {
    rlm::APIKeySetupView view(config_, opener());
    QSignalSpy completed(&view, &rlm::APIKeySetupView::completed);
    view.show();
    EXPECT_EQ(child<QLabel>(&view, "setupTitle")->text(), "Setup Required");
    EXPECT_TRUE(child<QLabel>(&view, "setupPrompt")->text().contains("Without one"))
        << "says what the key adds and that it is not needed";
    auto* field = child<QLineEdit>(&view, "apiKeyField");
    auto* save = child<QPushButton>(&view, "setupSaveButton");
    EXPECT_EQ(field->placeholderText(), "API Key");
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(save->isEnabled());

    QTest::keyClicks(field, "   ");
    EXPECT_FALSE(save->isEnabled()) << "blank input cannot be saved";
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(completed.count(), 0);

    field->setText(" \t sk-abc-123 \n");
    EXPECT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-abc-123");
    EXPECT_EQ(completed.count(), 1);
    EXPECT_TRUE(view.isComplete());
    EXPECT_FALSE(save->isEnabled()) << "stays disabled once saved";

    QSignalSpy without(&view, &rlm::APIKeySetupView::continueWithoutKeyRequested);
    QTest::mouseClick(child<QPushButton>(&view, "continueWithoutKeyButton"), Qt::LeftButton);
    EXPECT_EQ(without.count(), 1);
}

TEST_F(KeyViewsTest, WithACredentialStoreTheViewsKeepTheKeyThereNotInTheFile) {
    auto store = std::make_shared<FakeCredentialStore>();
    rlm::ConfigManager config(rlm::ConfigManager::defaultConfigPath(),
                              folder_.logger(rlm::StructuredLogger::kConfigCategory), store);
    rlm::APIKeySetupView setup(config, opener());
    setup.show();
    child<QLineEdit>(&setup, "apiKeyField")->setText(" sk-kept \n");
    QTest::mouseClick(child<QPushButton>(&setup, "setupSaveButton"), Qt::LeftButton);
    EXPECT_TRUE(setup.isComplete());
    EXPECT_EQ(store->secret, "sk-kept");
    EXPECT_EQ(readFile(config.configPath()), "{}");

    rlm::SettingsView settings(config, opener());
    settings.show();
    auto* field = child<QLineEdit>(&settings, "settingsApiKeyField");
    EXPECT_EQ(field->text(), "sk-kept");
    field->setText("sk-replaced");
    QTest::mouseClick(child<QPushButton>(&settings, "settingsSaveButton"), Qt::LeftButton);
    EXPECT_TRUE(showsChild(&settings, "settingsSavedLabel"));
    EXPECT_EQ(store->secret, "sk-replaced");
    EXPECT_EQ(readFile(config.configPath()), "{}");
}

TEST_F(KeyViewsTest, SetupShowsAFailedSaveAndCanSaveAgain) {
    rlm::APIKeySetupView view(config_, opener());
    QSignalSpy completed(&view, &rlm::APIKeySetupView::completed);
    view.show();
    blockConfigurationFolder();
    QTest::keyClicks(child<QLineEdit>(&view, "apiKeyField"), "sk-abc");
    QTest::mouseClick(child<QPushButton>(&view, "setupSaveButton"), Qt::LeftButton);

    auto* error = child<QLabel>(&view, "setupErrorLabel");
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->text().startsWith("Failed to save: ")) << error->text().toStdString();
    EXPECT_GT(error->text().size(), QString("Failed to save: ").size());
    EXPECT_EQ(textColour(error), ViewStyle::colour(ViewStyle::Tint::red));
    EXPECT_EQ(completed.count(), 0);
    EXPECT_TRUE(child<QPushButton>(&view, "setupSaveButton")->isEnabled()) << "not left saving";

    unblockConfigurationFolder();
    QTest::mouseClick(child<QPushButton>(&view, "setupSaveButton"), Qt::LeftButton);
    EXPECT_FALSE(error->isVisible());
    EXPECT_EQ(completed.count(), 1);
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-abc");
}

TEST_F(KeyViewsTest, TheGatewayLinkOpensTheSignUpPage) {
    rlm::APIKeySetupView view(config_, opener());
    view.show();
    EXPECT_EQ(child<QLabel>(&view, "gatewayLinkPrompt")->text(), "Get an API key at");
    auto* link = child<QLabel>(&view, "gatewayLink");
    EXPECT_TRUE(link->text().contains(rlm::kGatewayLink.domainName));
    emit link->linkActivated(QString::fromLatin1(rlm::kGatewayLink.signUpAddress));
    EXPECT_EQ(openedAddresses_, std::vector<std::string>{rlm::kGatewayLink.signUpAddress});
}

TEST_F(KeyViewsTest, SettingsWithoutConfigurationStartsEmptyAndKeepsAFailedSaveOpen) {
    rlm::SettingsView sheet(config_, opener());
    sheet.show();
    EXPECT_TRUE(child<QLineEdit>(&sheet, "settingsApiKeyField")->text().isEmpty());
    EXPECT_FALSE(child<QPushButton>(&sheet, "settingsSaveButton")->isEnabled());
    EXPECT_FALSE(showsChild(&sheet, "settingsErrorLabel"));
    EXPECT_FALSE(showsChild(&sheet, "settingsSavedLabel"));

    blockConfigurationFolder();
    QTest::keyClicks(child<QLineEdit>(&sheet, "settingsApiKeyField"), "sk-new");
    QTest::mouseClick(child<QPushButton>(&sheet, "settingsSaveButton"), Qt::LeftButton);
    auto* error = child<QLabel>(&sheet, "settingsErrorLabel");
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->text().startsWith("Failed to save: "));
    EXPECT_FALSE(showsChild(&sheet, "settingsSavedLabel"));
    QTest::qWait(rlm::SettingsView::kCloseDelayMilliseconds + 200);
    EXPECT_TRUE(sheet.isVisible()) << "a failed save leaves the sheet open";

    unblockConfigurationFolder();
    QTest::mouseClick(child<QPushButton>(&sheet, "settingsSaveButton"), Qt::LeftButton);
    EXPECT_FALSE(error->isVisible());
    EXPECT_TRUE(showsChild(&sheet, "settingsSavedLabel"));
    EXPECT_EQ(config_.load().veyrlinkApiKey, "sk-new");
    EXPECT_TRUE(waitUntil([&] { return !sheet.isVisible(); }));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

// Any change can be saved, also emptying a field (which removes that
// setting), and nothing else; an address that cannot be used never is.
TEST_F(KeyViewsTest, SettingsSaveAnyChangeAndBlankRemovesButNeverABadAddress) {
    rlm::AppConfig stored;
    stored.veyrlinkApiKey = "sk-old";
    stored.modelServerAddress = "https://models.example.com/v1";
    stored.modelName = "gpt-small";
    const auto with = [&](auto change) {
        rlm::AppConfig config = stored;
        change(config);
        return config;
    };
    const struct {
        const char* name;
        QString key, address, model;
        std::optional<rlm::AppConfig> saved; // absent: Save stays disabled
        const char* problem = nullptr;
    } cases[] = {
        {"nothing changed", "sk-old", "https://models.example.com/v1", "gpt-small", std::nullopt},
        {"only spaces around", " sk-old ", "https://models.example.com/v1\t", "gpt-small",
         std::nullopt},
        {"the model alone", "sk-old", "https://models.example.com/v1", " gpt-large ",
         with([](rlm::AppConfig& c) { c.modelName = "gpt-large"; })},
        {"the address cleared", "sk-old", "  ", "gpt-small",
         with([](rlm::AppConfig& c) { c.modelServerAddress.reset(); })},
        {"the key cleared", "", "https://models.example.com/v1", "gpt-small",
         with([](rlm::AppConfig& c) { c.veyrlinkApiKey.reset(); })},
        {"a local server", "sk-old", " http://127.0.0.1:8080/v1 ", "", with([](rlm::AppConfig& c) {
             c.modelServerAddress = "http://127.0.0.1:8080/v1";
             c.modelName.reset();
         })},
        {"not a url", "sk-old", "not a url", "gpt-small", std::nullopt,
         "The server address is not a web address"},
        {"no scheme", "sk-old", "models.example.com/v1", "gpt-small", std::nullopt,
         "The server address must start with http:// or https://"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config_.save(stored);
        rlm::SettingsView sheet(config_, opener());
        sheet.show();
        auto* key = child<QLineEdit>(&sheet, "settingsApiKeyField");
        auto* address = child<QLineEdit>(&sheet, "settingsAddressField");
        auto* model = child<QLineEdit>(&sheet, "settingsModelField");
        auto* save = child<QPushButton>(&sheet, "settingsSaveButton");
        EXPECT_EQ(key->text(), "sk-old");
        EXPECT_EQ(address->text(), "https://models.example.com/v1");
        EXPECT_EQ(model->text(), "gpt-small");
        EXPECT_FALSE(save->isEnabled()) << "as loaded";
        key->setText(c.key);
        address->setText(c.address);
        model->setText(c.model);

        EXPECT_EQ(save->isEnabled(), c.saved.has_value());
        EXPECT_EQ(showsChild(&sheet, "settingsAddressProblem"), c.problem != nullptr);
        if (c.problem) {
            EXPECT_TRUE(
                child<QLabel>(&sheet, "settingsAddressProblem")->text().startsWith(c.problem));
            QTest::mouseClick(save, Qt::LeftButton);
            EXPECT_EQ(config_.load(), stored) << "never saved";
            saveScreenshot(&sheet, "settings-bad-address");
        }
        if (c.saved) {
            QTest::mouseClick(save, Qt::LeftButton);
            EXPECT_TRUE(showsChild(&sheet, "settingsSavedLabel"));
            EXPECT_EQ(config_.load(), *c.saved);
            EXPECT_FALSE(save->isEnabled()) << "saved: nothing changed any more";
        }
    }
}

TEST_F(KeyViewsTest, SettingsListAddAndRemoveTheContactFiles) {
    const std::string work = folder_.file("work.vcf");
    const std::string gone = folder_.file("gone.vcf");
    const std::string family = folder_.file("family.vcf");
    writeFile(work, "BEGIN:VCARD\r\nEND:VCARD\r\n");
    writeFile(family, "BEGIN:VCARD\r\nEND:VCARD\r\n");
    rlm::AppConfig stored;
    stored.contactsFiles = {work, gone};
    config_.save(stored);

    rlm::SettingsView sheet(config_, opener());
    QStringList chosen;
    sheet.setFileChooser([&](QWidget*) { return chosen; });
    sheet.show();
    auto* list = child<QListWidget>(&sheet, "settingsContactsList");
    auto* save = child<QPushButton>(&sheet, "settingsSaveButton");
    auto* add = child<QPushButton>(&sheet, "settingsAddContactsButton");
    auto* remove = child<QPushButton>(&sheet, "settingsRemoveContactsButton");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text().toStdString(), work);
    EXPECT_EQ(list->item(1)->text().toStdString(), gone + " (cannot be read)");
    EXPECT_FALSE(save->isEnabled()) << "no key, no server, nothing changed";
    EXPECT_FALSE(remove->isEnabled()) << "nothing selected";

    // Cancelled, then a file already listed and a new one.
    add->click();
    EXPECT_EQ(list->count(), 2);
    chosen = {QString::fromStdString(work), QString::fromStdString(family)};
    add->click();
    EXPECT_EQ(sheet.model().contactFiles(), (std::vector<std::string>{work, gone, family}));
    EXPECT_TRUE(save->isEnabled()) << "a changed list is saved without a key";

    list->setCurrentRow(1);
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(sheet.model().contactFiles(), (std::vector<std::string>{work, family}));
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(showsChild(&sheet, "settingsSavedLabel"));
    EXPECT_EQ(config_.load().contactsFiles, (std::vector<std::string>{work, family}));
    EXPECT_EQ(config_.load().veyrlinkApiKey, std::nullopt);
    saveScreenshot(&sheet, "settings-contacts");
}

// One switch per chat, on for a chat copied: switching chats off and on and
// saving leaves out exactly those switched off, each with its title.
TEST_F(KeyViewsTest, SettingsSwitchChatsOffAndOnAndSaveTheChatsLeftOut) {
    rlm::AppConfig stored;
    stored.excludeChat("c3", "Book club");
    config_.save(stored);

    rlm::SettingsView sheet(config_, opener());
    sheet.model().setChatSource([](const rlm::AppConfig& settings) {
        const std::set<std::string> out = settings.excludedChatIds();
        return std::vector<rlm::ListedChat>{
            {"c1", "Ski trip", true, 2, out.count("c1") > 0},
            {"c2", "Alex Kim", false, 5, out.count("c2") > 0},
            {"c3", "Book club", false, 0, out.count("c3") > 0},
        };
    });
    sheet.show();
    auto* list = child<QListWidget>(&sheet, "settingsChatsList");
    auto* save = child<QPushButton>(&sheet, "settingsSaveButton");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return sheet.model().chatListState() == Listed::listed; }, 5000));
    ASSERT_EQ(list->count(), 3);
    const struct {
        const char* text;
        Qt::CheckState state;
    } shown[] = {
        {"Ski trip (2)", Qt::Checked},
        {"Alex Kim (5)", Qt::Checked},
        {"Book club", Qt::Unchecked},
    };
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list->item(row)->text().toStdString(), shown[row].text);
        EXPECT_EQ(list->item(row)->checkState(), shown[row].state) << shown[row].text;
    }
    EXPECT_FALSE(save->isEnabled());

    list->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(save->isEnabled());
    list->item(1)->setCheckState(Qt::Checked);
    EXPECT_FALSE(save->isEnabled()) << "switched back: nothing changed";

    list->item(0)->setCheckState(Qt::Unchecked);
    list->item(2)->setCheckState(Qt::Checked);
    ASSERT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(showsChild(&sheet, "settingsSavedLabel"));
    EXPECT_EQ(config_.load().excludedChats,
              (std::vector<rlm::ExcludedChat>{{"c1", std::string("Ski trip")}}));
    saveScreenshot(&sheet, "settings-chats");
}

// The chats are read off the GUI thread: one line says they are loading
// until they arrive, and a source that fails leaves one line with its
// reason, no dialog and no switches.
TEST_F(KeyViewsTest, SettingsChatsLoadInTheBackgroundAndAFailureIsALine) {
    // Released at the latest when the test ends, so that no reader is left
    // waiting.
    struct Gate {
        std::promise<void> promise;
        std::shared_future<void> opened = promise.get_future().share();
        bool open = false;
        void release() {
            if (!open) {
                open = true;
                promise.set_value();
            }
        }
        ~Gate() { release(); }
    } gate;
    std::shared_future<void> released = gate.opened;
    rlm::SettingsView sheet(config_, opener());
    sheet.model().setChatSource([released](const rlm::AppConfig&) {
        released.wait();
        return std::vector<rlm::ListedChat>{{"c1", "Ski trip", true, 2, false}};
    });
    sheet.show();
    auto* list = child<QListWidget>(&sheet, "settingsChatsList");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "Loading chats…");
    EXPECT_FALSE(list->item(0)->flags() & Qt::ItemIsUserCheckable);
    gate.release();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return sheet.model().chatListState() == Listed::listed; }, 5000));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "Ski trip (2)");
    EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);

    rlm::SettingsView failing(config_, opener());
    failing.model().setChatSource([](const rlm::AppConfig&) -> std::vector<rlm::ListedChat> {
        throw std::runtime_error("shadow.db is damaged");
    });
    failing.show();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return failing.model().chatListState() == Listed::failed; }, 5000));
    auto* failed = child<QListWidget>(&failing, "settingsChatsList");
    ASSERT_EQ(failed->count(), 1);
    EXPECT_EQ(failed->item(0)->text(), "The chats cannot be listed: shadow.db is damaged");
    EXPECT_FALSE(failed->item(0)->flags() & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(child<QPushButton>(&failing, "settingsSaveButton")->isEnabled());
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_TRUE(!window->isVisible() || window == &sheet || window == &failing)
            << "no dialog over the sheet: " << window->metaObject()->className();
    }
}

TEST(SyncStatusViewTest, StatusLineFollowsTheSyncState) {
    guiApplication();
    const auto secondary = ViewStyle::colour(ViewStyle::Tint::secondary);
    const auto red = ViewStyle::colour(ViewStyle::Tint::red);
    const QDateTime at(QDate(2026, 12, 9), QTime(14, 2));
    using State = rlm::SyncStatusView::State;
    struct Case {
        State state;
        QString line;
        QColor colour;
        bool bar;
    };
    const Case cases[] = {
        {{0, false}, "No messages indexed yet.", secondary, false},
        {{-3, false}, "No messages indexed yet.", secondary, false},
        {{412118, false, {}, false, 0, 0, -1, at},
         "Up to date · 14:02 · 412,118 messages",
         secondary,
         false},
        {{1, false, {}, false, 0, 0, -1, at}, "Up to date · 14:02 · 1 message", secondary, false},
        {{1234, false, "disk I/O error"}, "Sync failed: disk I/O error", red, false},
        // A missing store is said as it is, in red: it is an error.
        {{0, false, "No message store found at /x/chat.db.", true},
         "No message store found at /x/chat.db.",
         red,
         false},
        // A retry is due.
        {{0, false, "disk I/O error", false, 0, 0, -1, {}, at},
         "Sync failed: disk I/O error Trying again at 14:02:00.",
         red,
         false},
        // A first sync: done of total, a bar and an estimate.
        {{0, true, {}, false, 12000, 400000, 95},
         "Indexing messages: 12,000 of 400,000 · about 2 "
         "min left",
         secondary,
         true},
        {{0, true, {}, false, 12000, 400000, 7},
         "Indexing messages: 12,000 of 400,000 · about 7 s "
         "left",
         secondary,
         true},
        {{0, true, {}, false, 10, 400000, -1}, "Indexing messages: 10 of 400,000", secondary, true},
        // A pass over an index that is nearly current, or whose total is unknown.
        {{5000, true, "disk I/O error", false, 0, 0, -1},
         "Checking for new messages · 5,000 messages",
         secondary,
         false},
        {{0, true}, "Indexing messages...", secondary, false},
    };
    int syncRequests = 0;
    int chooseRequests = 0;
    rlm::SyncStatusView view(
        State{}, [&] { ++syncRequests; }, [&] { ++chooseRequests; });
    view.show();
    EXPECT_EQ(child<QLabel>(&view, "syncHeading")->text(), "Messages indexed");
    auto* line = child<QLabel>(&view, "syncStatusLine");
    auto* button = child<QPushButton>(&view, "syncNowButton");
    auto* bar = child<QProgressBar>(&view, "syncProgressBar");
    for (const Case& item : cases) {
        view.setState(item.state);
        EXPECT_EQ(line->text(), item.line);
        EXPECT_EQ(textColour(line), item.colour) << item.line.toStdString();
        EXPECT_EQ(button->isEnabled(), !item.state.isSyncing) << item.line.toStdString();
        EXPECT_EQ(bar->isVisible(), item.bar) << item.line.toStdString();
        EXPECT_EQ(showsChild(&view, "chooseStoreButton"), item.state.storeMissing)
            << "Choose… only for a missing store";
    }
    view.setState(State{0, false, "No message store found at /x/chat.db.", true});
    QTest::mouseClick(child<QPushButton>(&view, "chooseStoreButton"), Qt::LeftButton);
    EXPECT_EQ(chooseRequests, 1);
    view.setState(State{5, false});
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(syncRequests, 1);
}

// What the index covers has a line of its own, kept while a pass runs and
// beside an error, and none while it is not known.
TEST(SyncStatusViewTest, TheCoverageLineShowsWhatTheIndexCovers) {
    guiApplication();
    using State = rlm::SyncStatusView::State;
    const QString coverage = QStringLiteral("84,210 messages · Mar 2021 – today");
    State known{84210, false};
    known.coverage = coverage;
    State syncing = known;
    syncing.isSyncing = true;
    State failed = known;
    failed.lastError = QStringLiteral("disk I/O error");
    const std::pair<State, QString> cases[] = {
        {known, coverage}, {syncing, coverage}, {failed, coverage}, {State{}, QString()}};
    rlm::SyncStatusView view(
        State{}, [] {}, [] {});
    view.show();
    auto* line = child<QLabel>(&view, "syncCoverageLine");
    for (const auto& [state, text] : cases) {
        view.setState(state);
        EXPECT_EQ(line->text(), text);
        EXPECT_EQ(showsChild(&view, "syncCoverageLine"), !text.isEmpty()) << text.toStdString();
    }
    view.setState(known);
    saveScreenshot(&view, "sync-status-coverage");
}

} // namespace
} // namespace orlune::testing
