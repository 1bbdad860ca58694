#include "services/AppRelauncher.hpp"

#include "tests/rlm/RlmTestFolder.hpp"

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <thread>

// Lets test failures show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace orlune::rlm {
namespace {

using testing::RlmTestFolder;

TEST(AppRelauncherTest, TheBundleIsFoundOnlyWhereABundleHoldsTheExecutable) {
    const struct {
        const char* executable;
        const char* bundle;
    } cases[] = {
        {"/Applications/OrluneRLM.app/Contents/MacOS/OrluneRLM", "/Applications/OrluneRLM.app"},
        {"/Users/a/My Apps/OrluneRLM.app/Contents/MacOS/OrluneRLM",
         "/Users/a/My Apps/OrluneRLM.app"},
        {"/usr/bin/OrluneRLM", ""},
        {"/x/Contents/MacOS/OrluneRLM", ""},
        {"/x/OrluneRLM.app/MacOS/OrluneRLM", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppRelauncher::bundleOf(QString::fromUtf8(c.executable)),
                  QString::fromUtf8(c.bundle))
            << c.executable;
    }
    EXPECT_EQ(AppRelauncher::applicationLocation("/usr/bin/OrluneRLM"), "/usr/bin/OrluneRLM");
}

TEST(AppRelauncherTest, TheNewCopyWaitsForThisOneAndKeepsItsFoldersButNotItsKey) {
    const QString bundleExecutable = "/Applications/OrluneRLM.app/Contents/MacOS/OrluneRLM";
    const std::map<std::string, std::string> environment = {
        {"ORLUNE_DATA_DIR", "/tmp/run/data"},
        {"CHAT_DB_PATH", "/tmp/a b/chat.db"},
        {"ADDRESS_BOOK_PATH", "/Users/me/Library/Application Support/AddressBook"},
        {"VEYRLINK_API_KEY", "sk-secret"},
        {"PATH", "/usr/bin"},
    };
    const QStringList wait = {"-c",
                              "while kill -0 \"$0\" 2>/dev/null; do sleep 0.2; done; "
                              "exec \"$@\"",
                              "4242"};
    const struct {
        const char* name;
        QString executable;
        QStringList arguments;
        bool macOS;
        QStringList then;
    } cases[] = {
        {"mac bundle, through Launch Services",
         bundleExecutable,
         {"--window"},
         true,
         {"/usr/bin/open", "-n", "/Applications/OrluneRLM.app", "--env",
          "ORLUNE_DATA_DIR=/tmp/run/data", "--env", "CHAT_DB_PATH=/tmp/a b/chat.db", "--env",
          "ADDRESS_BOOK_PATH=/Users/me/Library/Application Support/AddressBook", "--args",
          "--window"}},
        {"mac bundle without arguments",
         bundleExecutable,
         {},
         true,
         {"/usr/bin/open", "-n", "/Applications/OrluneRLM.app", "--env",
          "ORLUNE_DATA_DIR=/tmp/run/data", "--env", "CHAT_DB_PATH=/tmp/a b/chat.db", "--env",
          "ADDRESS_BOOK_PATH=/Users/me/Library/Application Support/AddressBook"}},
        {"mac, not in a bundle",
         "/build/OrluneRLM",
         {"--window"},
         true,
         {"/build/OrluneRLM", "--window"}},
        {"elsewhere", bundleExecutable, {}, false, {bundleExecutable}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AppRelauncher::Command command =
            AppRelauncher::command(c.executable, c.arguments, 4242, environment, c.macOS);
        EXPECT_EQ(command.program, "/bin/sh");
        EXPECT_EQ(command.arguments, wait + c.then);
        EXPECT_FALSE(command.arguments.join(' ').contains("sk-secret"));
    }
}

// The command really runs: the new copy starts only once the old process has
// ended, with its arguments intact.
TEST(AppRelauncherTest, TheCommandStartsTheProgramOnlyAfterTheProcessEnded) {
    RlmTestFolder folder;
    const std::string marker = folder.file("started");
    const std::string program = folder.file("app.sh");
    RlmTestFolder::writeScript(program, "printf '%s|' \"$@\" > '" + marker + "'\n");
    QProcess oldCopy;
    oldCopy.start("sleep", {"0.6"});
    ASSERT_TRUE(oldCopy.waitForStarted());

    const AppRelauncher::Command command = AppRelauncher::command(
        QString::fromStdString(program), {"--window", "two words"}, oldCopy.processId(), {}, false);
    ASSERT_TRUE(AppRelauncher::start(command));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(marker)) << "started while the old copy ran";

    ASSERT_TRUE(oldCopy.waitForFinished());
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(std::filesystem::exists(marker));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(testing::readFile(marker), "--window|two words|");
}

} // namespace
} // namespace orlune::rlm
