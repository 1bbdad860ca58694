#pragma once
// Shared by the user-interface tests: the one QApplication, a temporary home
// with the application's seams pointed into it, a sample messaging store, a
// fake helper, widget look-up by object name and screenshots of screens.

#include "models/ChatViewModel.hpp"
#include "services/ConfigManager.hpp"
#include "services/FileSessionStore.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/rlm/RlmTestFolder.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/SampleStore.hpp"
#include "views/OrluneRLMMenu.hpp"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPalette>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Lets test failures show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace orlune::testing {

// The test program's QApplication, made on first use on the offscreen
// platform (CTest sets it too). Never destroyed, like the models' pool work.
inline QApplication& guiApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "orlune_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// The child of `root` named `name`, or a test failure.
template <typename Widget = QWidget> Widget* child(const QWidget* root, const char* name) {
    Widget* found = root->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no widget named " << name;
    return found;
}

// Whether `root` has a child named `name` that is visible on screen.
inline bool showsChild(const QWidget* root, const char* name) {
    auto* found = root->findChild<QWidget*>(QString::fromLatin1(name));
    return found && found->isVisible();
}

// Runs the event loop until `condition` holds (or a generous bound passes).
inline bool waitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 30000);
}

// The colour a label's text is drawn in.
inline QColor textColour(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

// Saves a picture of `widget` as <build tree>/screenshots/<name>.png, so that
// anyone can look at each screen after a test run.
inline void saveScreenshot(QWidget* widget, const std::string& name) {
    const QString folder = QStringLiteral(ORLUNE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    // Layout requests come in waves (a new height makes a scroll bar appear,
    // which changes a width, ...); let them settle first.
    QTest::qWait(100);
    EXPECT_TRUE(widget->grab().save(folder + "/" + QString::fromStdString(name) + ".png"));
}

// One test's world: HOME and the data folder in a temporary folder, none of
// the variables that would reach outside it, a configuration manager and
// loggers of its own, and a URL opener that records what it is asked to open.
class AppTest : public ::testing::Test {
protected:
    AppTest()
        : clearedEnvironment_("CHAT_DB_PATH", std::nullopt),
          config_(rlm::ConfigManager::defaultConfigPath(),
                  folder_.logger(rlm::StructuredLogger::kConfigCategory)) {
        guiApplication();
        for (const char* name :
             {"SHADOW_DB_PATH", "ORLUNE_RLM_HELPER_CMD", "ORLUNE_RLM_RESOURCE_ROOT",
              "ORLUNE_RLM_MODEL", "VEYRLINK_API_KEY"}) {
            clearedEnvironment_.set(name, std::nullopt);
        }
    }

    // Where the access test and the sync look for the messaging store.
    std::string storePath() const { return folder_.file("Library/Messages/chat.db"); }

    // Builds a sample messaging store of `messages` messages at storePath().
    void makeStore(int64_t messages = 200) {
        std::filesystem::create_directories(std::filesystem::path(storePath()).parent_path());
        samplestore::SampleStoreOptions options;
        options.messageCount = messages;
        samplestore::buildSampleStore(storePath(), options);
    }

    void storeKey(const std::string& key) { config_.save(rlm::AppConfig{key}); }

    // Installs a helper command (a shell script) that reads the request and
    // runs `body`.
    void installHelper(const std::string& body) {
        const std::string script = folder_.file("helper.sh");
        RlmTestFolder::writeScript(script, "cat > /dev/null\n" + body);
        clearedEnvironment_.set("ORLUNE_RLM_HELPER_CMD", script);
    }
    // A helper that answers every question with `answer`.
    void installAnsweringHelper(const std::string& answer) {
        installHelper("printf '%s' '{\"answer\": \"" + answer + "\"}'\n");
    }

    // The seams of a menu living entirely in this test's folder.
    rlm::OrluneRLMMenu::Seams menuSeams() {
        rlm::OrluneRLMMenu::Seams seams;
        seams.config = &config_;
        seams.access.urlOpener = [this](const QUrl& address) {
            openedAddresses_.push_back(address.toString().toStdString());
            return true;
        };
        seams.access.logger = folder_.logger(rlm::StructuredLogger::kFullDiskAccessCategory);
        seams.sync.logger = folder_.logger(rlm::StructuredLogger::kShadowSyncCategory);
        seams.makeChatModel = [this](const QString& shadowDBPath) {
            return makeChatModel(shadowDBPath);
        };
        // No model server is asked to embed the messages here (one named by a
        // test may not exist, and a quit waits for a running request); the
        // embedding model's own tests use a fake server.
        seams.embedding.source = [] { return std::optional<rlm::ModelServer::EmbeddingSource>{}; };
        return seams;
    }

    // A chat model on the default sessions file, reading this test's
    // configuration and the environment at this moment.
    std::unique_ptr<rlm::ChatViewModel> makeChatModel(const QString& shadowDBPath) {
        rlm::ChatViewModel::Seams seams;
        seams.loadConfiguration = [this] { return config_.load(); };
        seams.logger = folder_.logger(rlm::StructuredLogger::kChatCategory);
        seams.runner.logger = folder_.logger(rlm::StructuredLogger::kHelperCategory);
        return std::make_unique<rlm::ChatViewModel>(
            shadowDBPath,
            std::make_shared<rlm::FileSessionStore>(rlm::FileSessionStore::defaultSessionsURL()),
            std::move(seams));
    }

    // Stores one conversation of `count` alternating messages (each `text`
    // followed by its number) and returns it.
    static rlm::ChatSession storeConversation(int count, const std::string& text, double age = 0) {
        rlm::ChatSession session;
        session.id = rlm::ChatSession::newID();
        session.createdAt = rlm::ChatDate::now();
        for (int index = 0; index < count; ++index) {
            session.messages.push_back(
                rlm::ChatMessage::make(index % 2 ? rlm::ChatRole::assistant : rlm::ChatRole::user,
                                       text + std::to_string(index)));
            session.messages.back().timestamp.secondsSinceReferenceDate -= age;
        }
        session.lastMessageAt = session.messages.back().timestamp;
        session.title = session.messages.front().text;
        session.messageCount = static_cast<int64_t>(session.messages.size());
        return session;
    }

    // The number of logged events named `message`.
    size_t eventCount(const std::string& message) const {
        return eventsNamed(folder_, message).size();
    }
    // Whether any logged event's name starts with `prefix`.
    bool loggedAnyStartingWith(const std::string& prefix) const {
        for (const std::string& name : eventNames(folder_)) {
            if (name.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    RlmTestFolder folder_;
    ScopedEnv clearedEnvironment_;
    rlm::ConfigManager config_;
    std::vector<std::string> openedAddresses_;
};

} // namespace orlune::testing
