#include "services/LogFile.hpp"

#include "services/StructuredLogger.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orlune::rlm {
namespace {

using testing::readFile;
using testing::RlmTestFolder;
using testing::ScopedEnv;

// The lines of a file, without their line feeds; fails on a partial last line.
std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(path)) {
        return lines;
    }
    const std::string text = readFile(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << path << " ends inside a line";
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

TEST(LogFileTest, TheFolderIsTheDataFoldersWhenOverriddenAndTheMacsOtherwise) {
    RlmTestFolder folder; // sets ORLUNE_DATA_DIR
    const core::Environment& environment = core::Environment::process();
    EXPECT_EQ(LogFile::defaultFolder(environment), folder.dataFolder() + "/Logs/Orlune");

    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("relative")}) {
        ScopedEnv unset("ORLUNE_DATA_DIR", value);
#ifdef __APPLE__
        EXPECT_EQ(LogFile::defaultFolder(environment), folder.file("Library/Logs/Orlune"));
#else
        EXPECT_EQ(LogFile::defaultFolder(environment), std::nullopt)
            << "standard error only, as before";
#endif
    }
}

TEST(LogFileTest, FilesRotateKeepingWholeLinesAndTheNewestOnes) {
    RlmTestFolder folder;
    const std::string path = folder.file("Logs/Orlune/app.log");
    LogFile file(path, 100, 2);
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(RlmTestFolder::mode(folder.file("Logs/Orlune")), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(path), 0600u);

    // Ten lines of 39 bytes; two fit in a file of 100.
    for (int i = 0; i < 10; ++i) {
        file.append("line " + std::to_string(i) + std::string(32, '.') + "\n");
    }
    auto numbers = [](const std::vector<std::string>& lines) {
        std::vector<int> found;
        for (const std::string& line : lines) {
            EXPECT_EQ(line.size(), 38u) << line;
            found.push_back(line[5] - '0');
        }
        return found;
    };
    EXPECT_EQ(numbers(linesOf(path)), (std::vector<int>{8, 9}));
    EXPECT_EQ(numbers(linesOf(path + ".1")), (std::vector<int>{6, 7}));
    EXPECT_EQ(numbers(linesOf(path + ".2")), (std::vector<int>{4, 5}));
    EXPECT_FALSE(std::filesystem::exists(path + ".3"));
    EXPECT_EQ(RlmTestFolder::mode(path), 0600u);
    EXPECT_EQ(RlmTestFolder::mode(path + ".1"), 0600u);

    // A line longer than the limit is still written whole.
    file.append(std::string(150, 'x') + "\n");
    EXPECT_EQ(linesOf(path), std::vector<std::string>{std::string(150, 'x')});

    // Reopening appends after what is there.
    LogFile again(path, 1000, 2);
    again.append("after\n");
    EXPECT_EQ(linesOf(path).back(), "after");
    EXPECT_EQ(linesOf(path).size(), 2u);
}

TEST(LogFileTest, ALinkWhereTheFileShouldBeIsNotFollowed) {
    RlmTestFolder folder;
    std::filesystem::create_directories(folder.file("logs"));
    testing::writeFile(folder.file("elsewhere"), "someone else's file\n");
    std::filesystem::create_symlink(folder.file("elsewhere"), folder.file("logs/app.log"));
    LogFile file(folder.file("logs/app.log"));
    EXPECT_FALSE(file.isOpen());
    file.append("a line\n");
    EXPECT_EQ(readFile(folder.file("elsewhere")), "someone else's file\n");
}

TEST(LogFileTest, LoggersWritingToStandardErrorAlsoWriteToTheInstalledFile) {
    RlmTestFolder folder;
    const std::string path = folder.file("logs/app.log");
    LogFile::install(std::make_shared<LogFile>(path, 400, 3));

    // Many threads through a small, rotating file: every line whole.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const StructuredLogger logger("app.test", "thread-" + std::to_string(t));
            for (int i = 0; i < 25; ++i) {
                logger.info("event", {{"i", std::to_string(i)}});
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // A logger writing elsewhere does not reach the file.
    folder.logger("elsewhere").info("not_copied");
    LogFile::install(nullptr);
    StructuredLogger("app.test", "after").info("after_uninstall");

    size_t lines = 0;
    for (const std::string& name : {path, path + ".1", path + ".2", path + ".3"}) {
        for (const std::string& line : linesOf(name)) {
            const auto entry = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(entry.is_discarded()) << line;
            EXPECT_EQ(entry["message"], "event");
            ++lines;
        }
    }
    EXPECT_GT(lines, 0u);
    EXPECT_LE(lines, 100u);
    EXPECT_FALSE(std::filesystem::exists(path + ".4"));
}

} // namespace
} // namespace orlune::rlm
