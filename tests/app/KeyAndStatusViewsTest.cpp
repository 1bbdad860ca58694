// The API-key setup view, the settings sheet on its own, and the sync status
// block.

#include "OrluneRLM/views/APIKeySetupView.hpp"
#include "OrluneRLM/views/GatewayLink.hpp"
#include "OrluneRLM/views/SettingsView.hpp"
#include "OrluneRLM/views/SyncStatusView.hpp"
#include "OrluneRLM/views/ViewStyle.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "tests/rlm/FakeCredentialStore.hpp"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::ViewStyle;

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
    EXPECT_EQ(child<QLabel>(&view, "setupPrompt")->text(),
              "Enter your Veyrlink API key to get started.");
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

// The key is optional: a model server of the person's own is enough to save,
// and blank fields remove their settings.
TEST_F(KeyViewsTest, SettingsShowAndSaveTheModelServerAndModel) {
    rlm::AppConfig stored;
    stored.veyrlinkApiKey = "sk-old";
    stored.modelName = "gpt-small";
    config_.save(stored);
    rlm::SettingsView sheet(config_, opener());
    sheet.show();
    auto* key = child<QLineEdit>(&sheet, "settingsApiKeyField");
    auto* address = child<QLineEdit>(&sheet, "settingsAddressField");
    auto* model = child<QLineEdit>(&sheet, "settingsModelField");
    auto* save = child<QPushButton>(&sheet, "settingsSaveButton");
    EXPECT_EQ(key->text(), "sk-old");
    EXPECT_TRUE(address->text().isEmpty());
    EXPECT_EQ(address->placeholderText(), "https://api.veyrlink.com/v1");
    EXPECT_EQ(model->text(), "gpt-small");

    key->clear();
    EXPECT_FALSE(save->isEnabled()) << "neither a key nor a server";
    address->setText(" http://127.0.0.1:8080/v1 ");
    EXPECT_TRUE(save->isEnabled());
    model->setText("  ");
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(showsChild(&sheet, "settingsSavedLabel"));
    rlm::AppConfig expected;
    expected.modelServerAddress = "http://127.0.0.1:8080/v1";
    EXPECT_EQ(config_.load(), expected);
}

TEST(SyncStatusViewTest, StatusLineFollowsTheSyncState) {
    guiApplication();
    const auto secondary = ViewStyle::colour(ViewStyle::Tint::secondary);
    const auto red = ViewStyle::colour(ViewStyle::Tint::red);
    struct Case {
        qint64 count;
        bool syncing;
        QString error;
        QString line;
        QColor colour;
    };
    const Case cases[] = {
        {0, false, "", "No messages indexed yet.", secondary},
        {-3, false, "", "No messages indexed yet.", secondary},
        {1234, false, "", "Messages indexed: 1234", secondary},
        {1234567, false, "", "Messages indexed: 1234567", secondary},
        {1234, false, "disk I/O error", "Sync failed: disk I/O error", red},
        {1234, true, "disk I/O error", "Syncing messages...", secondary},
        {0, true, "", "Syncing messages...", secondary},
    };
    int syncRequests = 0;
    rlm::SyncStatusView view(0, false, QString(), [&] { ++syncRequests; });
    view.show();
    EXPECT_EQ(child<QLabel>(&view, "syncHeading")->text(), "Shadow DB");
    auto* line = child<QLabel>(&view, "syncStatusLine");
    auto* button = child<QPushButton>(&view, "syncNowButton");
    for (const Case& item : cases) {
        view.setState(item.count, item.syncing, item.error);
        EXPECT_EQ(line->text(), item.line);
        EXPECT_EQ(textColour(line), item.colour) << item.line.toStdString();
        EXPECT_EQ(button->isEnabled(), !item.syncing) << item.line.toStdString();
    }
    view.setState(5, false, QString());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(syncRequests, 1);
}

} // namespace
} // namespace orlune::testing
