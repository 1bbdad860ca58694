#include "services/StructuredLogger.hpp"

#include "tests/rlm/RlmTestFolder.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace orlune::rlm {
namespace {

using nlohmann::json;
using testing::RlmTestFolder;

// 2026-03-04T09:15:27.750Z
std::chrono::system_clock::time_point fixedTime() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(1772615727750LL));
}

class StructuredLoggerTest : public ::testing::Test {
protected:
    StructuredLogger logger(const std::string& category) const {
        return StructuredLogger("app.test", category, -1, fixedTime);
    }
    RlmTestFolder folder;
};

TEST_F(StructuredLoggerTest, EmptyMetadataGivesExactlyTheFiveKeys) {
    const std::string line = logger("config").formatLine("info", "config_saved", {});
    EXPECT_EQ(line, "{\"category\":\"config\",\"level\":\"info\",\"message\":\"config_saved\","
                    "\"subsystem\":\"app.test\",\"timestamp\":\"2026-03-04T09:15:27Z\"}\n");
}

TEST_F(StructuredLoggerTest, ReservedKeysWinAndSolidiAreEscaped) {
    const std::string line = logger("config").formatLine("info", "config_saved",
                                                         {{"message", "x"},
                                                          {"path", "/tmp/a"},
                                                          {"level", "l"},
                                                          {"subsystem", "s"},
                                                          {"category", "c"},
                                                          {"timestamp", "t"}});
    EXPECT_NE(line.find("\"path\":\"\\/tmp\\/a\""), std::string::npos) << line;
    const json entry = json::parse(line);
    EXPECT_EQ(entry.size(), 6u);
    EXPECT_EQ(entry["message"], "config_saved");
    EXPECT_EQ(entry["level"], "info");
    EXPECT_EQ(entry["subsystem"], "app.test");
    EXPECT_EQ(entry["category"], "config");
    EXPECT_EQ(entry["timestamp"], "2026-03-04T09:15:27Z");
    EXPECT_EQ(entry["path"], "/tmp/a");
}

TEST_F(StructuredLoggerTest, OneLinePerEntryWhateverTheValues) {
    const std::string line = logger("chat").formatLine(
        "error", "chat_failed",
        {{"error", "line one\nline two\r\t\"quoted\" \\ end"}, {"name", "Zoë 😀 名前"}});
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const json entry = json::parse(line);
    EXPECT_EQ(entry["error"], "line one\nline two\r\t\"quoted\" \\ end");
    EXPECT_EQ(entry["name"], "Zoë 😀 名前");
}

TEST_F(StructuredLoggerTest, TextThatIsNotUtf8StillGivesAValidLine) {
    const std::string line = logger("chat").formatLine("info", "e",
                                                       {{"bad", std::string("a\xff"
                                                                            "b")}});
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(json::parse(line)["bad"], "a\xEF\xBF\xBD"
                                        "b");
}

TEST_F(StructuredLoggerTest, CategoriesDifferOnlyInCategory) {
    json first = json::parse(logger("config").formatLine("warning", "x_y", {{"k", "v"}}));
    json second = json::parse(logger("shadow-sync").formatLine("warning", "x_y", {{"k", "v"}}));
    EXPECT_EQ(first["category"], "config");
    EXPECT_EQ(second["category"], "shadow-sync");
    first.erase("category");
    second.erase("category");
    EXPECT_EQ(first, second);
}

TEST_F(StructuredLoggerTest, TimestampFormat) {
    const struct {
        long long unixMilliseconds;
        const char* expected;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {1772615727999LL, "2026-03-04T09:15:27Z"}, // fractions are cut, not rounded
        {978307200000LL, "2001-01-01T00:00:00Z"},
        {4102444799000LL, "2099-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StructuredLogger::formatTimestamp(std::chrono::system_clock::time_point(
                      std::chrono::milliseconds(c.unixMilliseconds))),
                  c.expected);
    }
}

TEST_F(StructuredLoggerTest, LevelsReachTheDescriptorAsWholeLines) {
    const StructuredLogger out = folder.logger("full-disk-access");
    out.info("fda_a", {{"n", "12"}});
    out.warning("fda_b");
    out.error("fda_c", {{"error", "e"}});
    const auto entries = folder.loggedEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["level"], "info");
    EXPECT_EQ(entries[0]["n"], "12");
    EXPECT_EQ(entries[1]["level"], "warning");
    EXPECT_EQ(entries[1]["message"], "fda_b");
    EXPECT_EQ(entries[2]["level"], "error");
    EXPECT_EQ(entries[2]["category"], "full-disk-access");
    EXPECT_EQ(entries[2]["subsystem"], StructuredLogger::kBundleIdentifier);
}

TEST_F(StructuredLoggerTest, LinesFromManyThreadsNeverInterleave) {
    const StructuredLogger out = folder.logger("chat");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&out, t] {
            for (int i = 0; i < 300; ++i) {
                out.info("chat_event",
                         {{"thread", std::to_string(t)}, {"payload", std::string(3000, 'a' + t)}});
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const auto entries = folder.loggedEntries(); // throws on a torn line
    ASSERT_EQ(entries.size(), 1200u);
    for (const json& entry : entries) {
        const int t = std::stoi(entry["thread"].get<std::string>());
        EXPECT_EQ(entry["payload"], std::string(3000, 'a' + t));
    }
}

TEST_F(StructuredLoggerTest, WritingToAClosedDescriptorIsSilent) {
    StructuredLogger("s", "c", -1).info("nothing_happens");
}

} // namespace
} // namespace orlune::rlm
