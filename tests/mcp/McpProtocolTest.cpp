// The JSON-RPC side of `orlune mcp`: what each kind of line gets back,
// whatever the assistant (or anything else) writes.

#include "tests/mcp/McpTestSupport.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace orlune::testing {
namespace {

// What a line gets: no reply, a result, or an error with this code.
struct LineCase {
    const char* name;
    std::string line;
    int errorCode; // 0: a result; 1: no reply at all
};

class McpProtocolTest : public ::testing::Test {
protected:
    TempDir dir;
    // No database: the protocol never needs one.
    McpHarness harness{dir.file("missing.db")};
};

TEST_F(McpProtocolTest, AnswersEachKindOfLine) {
    const LineCase cases[] = {
        {"ping", R"({"jsonrpc":"2.0","id":1,"method":"ping"})", 0},
        {"ping with a string id", R"({"jsonrpc":"2.0","id":"a","method":"ping","params":{}})", 0},
        {"tools/list", R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})", 0},
        {"initialized notification", R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
         1},
        {"unknown notification", R"({"jsonrpc":"2.0","method":"no/such","params":[1]})", 1},
        {"a response from the client", R"({"jsonrpc":"2.0","id":9,"result":{}})", 1},
        {"blank line", "  \r", 1},
        {"unknown method", R"({"jsonrpc":"2.0","id":3,"method":"resources/list"})", -32601},
        {"not JSON", R"({"jsonrpc":"2.0","id":4,"method":)", -32700},
        {"invalid UTF-8", "{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"p\xff\"}", -32700},
        {"a batch", R"([{"jsonrpc":"2.0","id":5,"method":"ping"}])", -32600},
        {"JSON-RPC 1.0", R"({"jsonrpc":"1.0","id":6,"method":"ping"})", -32600},
        {"a bare number", "42", -32600},
        {"an object id", R"({"jsonrpc":"2.0","id":{"a":1},"method":"ping"})", -32600},
        {"a null id", R"({"jsonrpc":"2.0","id":null,"method":"ping"})", -32600},
        {"a method that is a number", R"({"jsonrpc":"2.0","id":7,"method":7})", -32600},
        {"params as a list", R"({"jsonrpc":"2.0","id":8,"method":"tools/list","params":[]})",
         -32602},
        {"initialize without a version",
         R"({"jsonrpc":"2.0","id":10,"method":"initialize","params":{}})", -32602},
        {"tools/call without a name",
         R"({"jsonrpc":"2.0","id":11,"method":"tools/call","params":{"arguments":{}}})", -32602},
        {"tools/call with arguments as a string",
         R"({"jsonrpc":"2.0","id":12,"method":"tools/call","params":{"name":"ask","arguments":"x"}})",
         -32602},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const json reply = harness.send(c.line);
        if (c.errorCode == 1) {
            EXPECT_TRUE(reply.is_null()) << reply;
            continue;
        }
        ASSERT_TRUE(reply.is_object());
        EXPECT_EQ(reply["jsonrpc"], "2.0");
        if (c.errorCode == 0) {
            EXPECT_TRUE(reply.contains("result")) << reply;
        } else {
            EXPECT_EQ(reply["error"]["code"], c.errorCode) << reply;
            EXPECT_FALSE(reply["error"]["message"].get<std::string>().empty());
        }
    }
}

TEST_F(McpProtocolTest, RepliesCarryTheRequestIdAndNullWhenItCannotBeRead) {
    EXPECT_EQ(harness.send(R"({"jsonrpc":"2.0","id":"x-1","method":"ping"})")["id"], "x-1");
    EXPECT_EQ(harness.send(R"({"jsonrpc":"2.0","id":77,"method":"nope"})")["id"], 77);
    EXPECT_TRUE(harness.send("{")["id"].is_null());
}

TEST_F(McpProtocolTest, NegotiatesTheProtocolVersion) {
    const std::pair<std::string, std::string> cases[] = {
        {"2025-06-18", "2025-06-18"},
        {"2025-03-26", "2025-03-26"},
        {"2024-11-05", "2024-11-05"},
        // A version this server does not speak: its newest, for the client
        // to accept or leave.
        {"2099-01-01", "2025-06-18"},
        {"", "2025-06-18"},
    };
    for (const auto& [asked, answered] : cases) {
        const json request = {{"jsonrpc", "2.0"},
                              {"id", 1},
                              {"method", "initialize"},
                              {"params",
                               {{"protocolVersion", asked},
                                {"capabilities", json::object()},
                                {"clientInfo", {{"name", "test"}, {"version", "1"}}}}}};
        const json reply = harness.send(request.dump());
        EXPECT_EQ(reply["result"]["protocolVersion"], answered) << asked;
        EXPECT_TRUE(reply["result"]["capabilities"].contains("tools"));
        EXPECT_EQ(reply["result"]["serverInfo"]["name"], "orlune");
    }
}

TEST_F(McpProtocolTest, ListsEveryToolWithAClosedObjectSchema) {
    const json reply = harness.send(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})");
    std::vector<std::string> names;
    for (const json& tool : reply["result"]["tools"]) {
        names.push_back(tool["name"]);
        EXPECT_EQ(tool["inputSchema"]["type"], "object") << tool["name"];
        EXPECT_EQ(tool["inputSchema"]["additionalProperties"], false) << tool["name"];
        EXPECT_FALSE(tool["description"].get<std::string>().empty());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ask", "search_messages", "get_conversation",
                                               "list_people", "list_chats", "stats"}));
    // The list must fit the least budget the command accepts.
    EXPECT_LT(reply.dump().size(), mcp::McpSettings::kLeastMaxReplyBytes);
}

TEST_F(McpProtocolTest, ServesLineByLineAndSkipsALineTooLongToRead) {
    std::string input = R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
                        "\r\n" +
                        std::string(mcp::McpServer::kMaxRequestBytes + 10, 'x') + "\n" +
                        R"({"jsonrpc":"2.0","method":"notifications/initialized"})" + "\n" +
                        R"({"jsonrpc":"2.0","id":2,"method":"ping"})";
    std::istringstream in(input);
    std::ostringstream out;
    harness.server->serve(in, out);
    std::istringstream replies(out.str());
    std::vector<json> lines;
    for (std::string line; std::getline(replies, line);) {
        lines.push_back(json::parse(line));
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["id"], 1);
    EXPECT_EQ(lines[1]["error"]["code"], -32600);
    EXPECT_EQ(lines[2]["id"], 2);
}

} // namespace
} // namespace orlune::testing
