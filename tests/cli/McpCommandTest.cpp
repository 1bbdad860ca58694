// `orlune mcp` as an assistant starts it: its settings from the command
// line, the environment and the configuration file, seen in what it serves.

#include "shadow/ShadowDB.hpp"
#include "tests/cli/RunOrlune.hpp"
#include "tests/support/PeopleStore.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace orlune::testing {
namespace {

using nlohmann::json;

class McpCommandTest : public ::testing::Test {
protected:
    void SetUp() override { syncPeopleShadow(dir); }

    void writeConfig(const std::string& text) {
        std::filesystem::create_directories(dir.file("data/OrluneRLM"));
        std::ofstream(dir.file("data/OrluneRLM/config.json")) << text;
    }

    // Runs the server over one search and returns it, with the reply lines.
    ProcessResult serve(const std::vector<std::string>& options,
                        const std::map<std::string, std::optional<std::string>>& extra,
                        std::vector<std::string>& replies) {
        std::vector<std::string> args = {"mcp", "--shadow-db", dir.file("shadow.db")};
        args.insert(args.end(), options.begin(), options.end());
        const std::string input =
            R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})"
            "\n"
            R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
            "\n"
            R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"search_messages","arguments":{"words":"flight","limit":100}}})"
            "\n";
        std::map<std::string, std::optional<std::string>> changes = {
            {"HOME", dir.path().string()},
            {"XDG_DATA_HOME", dir.file("data")},
            {"ORLUNE_DATA_DIR", dir.file("data")},
            {"ORLUNE_MCP_MAX_REPLY_BYTES", std::nullopt},
        };
        for (const auto& [name, value] : extra) {
            changes[name] = value;
        }
        ProcessResult result =
            runProcess(ORLUNE_CLI_PATH, args, environmentWith(changes), input, {});
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            replies.push_back(line);
        }
        return result;
    }

    TempDir dir;
};

TEST_F(McpCommandTest, PrivacyComesFromTheFlagElseTheConfiguration) {
    const struct {
        const char* config; // "" for no file
        std::vector<std::string> options;
        bool showsText;
        const char* warning;
    } cases[] = {
        {"", {}, true, ""},
        {R"({"mcpPrivacy":"full"})", {}, true, ""},
        {R"({"mcpPrivacy":"metadata"})", {}, false, ""},
        // Unknown in the file: less, never more.
        {R"({"mcpPrivacy":"everything"})", {}, false, "mcpPrivacy"},
        {R"({"mcpPrivacy":"metadata"})", {"--privacy", "full"}, true, ""},
        {"", {"--privacy=metadata"}, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.config) + " " + ::testing::PrintToString(c.options));
        std::filesystem::remove(dir.file("data/OrluneRLM/config.json"));
        if (*c.config != '\0') {
            writeConfig(c.config);
        }
        std::vector<std::string> replies;
        const ProcessResult result = serve(c.options, {}, replies);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        ASSERT_EQ(replies.size(), 2u) << result.out;
        const json messages = json::parse(replies[1])["result"]["structuredContent"]["messages"];
        ASSERT_EQ(messages.size(), 10u);
        for (const json& message : messages) {
            EXPECT_EQ(message.contains("text"), c.showsText);
        }
        EXPECT_NE(result.err.find(c.warning), std::string::npos) << result.err;
    }
}

// A chat the configuration leaves out is hidden even while the database,
// not synced since, still holds it.
TEST_F(McpCommandTest, TheChatsLeftOutInTheConfigurationAreHidden) {
    writeConfig(R"({"excludedChats":[{"chatId":"iMessage;+;chat100","title":"Work"}]})");
    std::vector<std::string> replies;
    const ProcessResult result = serve({}, {}, replies);
    ASSERT_EQ(replies.size(), 2u) << result.err;
    const json messages = json::parse(replies[1])["result"]["structuredContent"]["messages"];
    EXPECT_EQ(messages.size(), 7u) << messages;
    for (const json& message : messages) {
        EXPECT_NE(message.dump().find("flight"), std::string::npos);
        EXPECT_EQ(message.dump().find("BA117"), std::string::npos) << "m3 is in chat100";
    }
}

TEST_F(McpCommandTest, TheBudgetComesFromTheFlagElseTheEnvironment) {
    {
        // Enough about flights not to fit in 8 KB.
        core::ShadowDB db(dir.file("shadow.db"));
        std::vector<core::ShadowMessage> messages;
        for (int i = 0; i < 40; ++i) {
            std::string guid = "long";
            guid += std::to_string(i);
            messages.emplace_back(guid, "iMessage;-;+15550100001", std::nullopt, "+15550100001",
                                  "flight " + std::string(400, 'x'),
                                  peopleStoreDate("2025-12-11 10:00") + i, false, false, false,
                                  std::vector<std::string>{}, 100 + i);
        }
        db.insertBatch(messages);
    }
    std::vector<std::string> replies;
    ProcessResult result = serve({}, {{"ORLUNE_MCP_MAX_REPLY_BYTES", "8192"}}, replies);
    ASSERT_EQ(replies.size(), 2u) << result.err;
    EXPECT_LE(replies[1].size(), 8192u);
    EXPECT_TRUE(json::parse(replies[1])["result"]["structuredContent"].contains("more"));

    replies.clear();
    result =
        serve({"--max-reply-bytes", "200000"}, {{"ORLUNE_MCP_MAX_REPLY_BYTES", "8192"}}, replies);
    ASSERT_EQ(replies.size(), 2u) << result.err;
    EXPECT_FALSE(json::parse(replies[1])["result"]["structuredContent"].contains("more"));

    const std::pair<std::vector<std::string>, std::map<std::string, std::optional<std::string>>>
        refused[] = {
            {{"--max-reply-bytes", "100"}, {}},
            {{"--max-reply-bytes", "12kb"}, {}},
            {{}, {{"ORLUNE_MCP_MAX_REPLY_BYTES", "lots"}}},
            {{"--privacy", "some"}, {}},
            {{"stray"}, {}},
        };
    for (const auto& [options, environment] : refused) {
        replies.clear();
        result = serve(options, environment, replies);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(options);
        EXPECT_TRUE(replies.empty());
        EXPECT_FALSE(result.err.empty());
    }
}

} // namespace
} // namespace orlune::testing
