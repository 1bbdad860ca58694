// The built helper, run as a process the way the application runs it: one
// request on standard input, one response object on standard output.

#include "tests/helper/HelperTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using nlohmann::json;

constexpr const char* kApiKey = "sk-test-7f3a9c-not-for-output";

class HelperProcessTest : public ::testing::Test {
protected:
    // Times are shown in the local zone; the helper inherits this one.
    orlune::testing::ScopedEnv zone{"TZ", std::string("UTC")};
    void SetUp() override { writeShadowDatabase(dbPath, sampleMessages()); }

    json request(const std::string& question, json extra = json::object()) const {
        json document = {{"question", question}, {"db_path", dbPath}, {"verbose", false}};
        document.update(extra);
        return document;
    }

    json gatewayRequest(const std::string& question, json extra = json::object()) const {
        json document = request(question, extra);
        document["api_key"] = kApiKey;
        return document;
    }

    ProcessResult run(const json& document, const std::vector<std::string>& extraEnv = {},
                      const std::optional<std::string>& baseUrl = std::nullopt) {
        // The first entry of a name wins, so the test's own entries come first.
        std::vector<std::string> env = extraEnv;
        env.insert(env.end(), {"HOME=" + dir.path().string(), "XDG_DATA_HOME=" + dir.file("data"),
                               "ORLUNE_DATA_DIR=" + dir.file("data"), "PATH=/usr/bin:/bin",
                               "ORLUNE_RLM_DEADLINE_SECONDS=30"});
        if (baseUrl) {
            env.push_back("VEYRLINK_BASE_URL=" + *baseUrl);
        }
        ProcessResult result = runHelperProcess(document.dump(), env, dir.path().string());
        // The key may go to the gateway and nowhere else.
        EXPECT_EQ(result.out.find(kApiKey), std::string::npos);
        EXPECT_EQ(result.err.find(kApiKey), std::string::npos);
        return result;
    }

    // The response object of a run that must have succeeded as a process.
    static json response(const ProcessResult& result) {
        EXPECT_EQ(result.exitCode, 0) << result.err;
        json document = json::parse(result.out, nullptr, false);
        EXPECT_TRUE(document.is_object()) << result.out;
        return document.is_object() ? document : json::object();
    }

    static std::string answerOf(const json& response) {
        EXPECT_TRUE(response.contains("answer") && response["answer"].is_string())
            << response.dump();
        EXPECT_FALSE(response.contains("error")) << response.dump();
        return response.value("answer", "");
    }

    static void expectError(const json& response, const std::string& type,
                            const std::string& fragment) {
        ASSERT_TRUE(response.contains("error")) << response.dump();
        EXPECT_FALSE(response.contains("answer")) << response.dump();
        EXPECT_EQ(response["error"].value("type", ""), type) << response.dump();
        EXPECT_NE(response["error"].value("message", "").find(fragment), std::string::npos)
            << response.dump();
    }

    TempDir dir;
    std::string dbPath = dir.file("shadow.db");
};

ScriptedReply httpReply(int status, std::string body) {
    ScriptedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

bool contains(const std::string& text, const std::string& fragment) {
    return text.find(fragment) != std::string::npos;
}

// The names of the tools offered in a completion request.
std::vector<std::string> toolNames(const json& body) {
    std::vector<std::string> names;
    if (body.contains("tools")) {
        for (const json& tool : body["tools"]) {
            names.push_back(tool["function"]["name"].get<std::string>());
        }
    }
    return names;
}

// The tool results (role "tool") of a completion request, in order.
std::vector<std::string> toolResults(const json& body) {
    std::vector<std::string> results;
    for (const json& message : body["messages"]) {
        if (message["role"] == "tool") {
            results.push_back(message["content"].get<std::string>());
        }
    }
    return results;
}

// ---- without a model ----

TEST_F(HelperProcessTest, OfflineAnswersFromTheIndex) {
    struct Case {
        const char* question;
        std::vector<std::string> expected;   // fragments of the answer
        std::vector<std::string> unexpected; // fragments that must not appear
    };
    const Case cases[] = {
        {"When is dinner tomorrow?",
         {"No language model was used (no API key is configured)", "\"dinner\", \"tomorrow\"",
          "+15550001 in Family, Wed 8 Mar 2023, 20:26: \"Dinner tomorrow at 7 at Luigi's?\""},
         {"dentist", "Hiking"}},
        {"Who is going on the hike on Saturday?",
         {"Trail crew", "Hiking Saturday", "You in Trail crew"},
         {"Dinner"}},
        {"Anything from alice?",
         {"alice@example.com in chat-alice", "dentist appointment"},
         {"Family"}},
        {"What did they say about penguins?",
         {"No language model was used", "No messages were found for \"say\", \"penguins\"."},
         {"1. "}},
        {"What is it?", {"no words to search for"}, {"1. "}},
    };
    for (const Case& c : cases) {
        json result = response(run(request(c.question)));
        std::string answer = answerOf(result);
        for (const std::string& fragment : c.expected) {
            EXPECT_TRUE(contains(answer, fragment)) << c.question << "\n" << answer;
        }
        for (const std::string& fragment : c.unexpected) {
            EXPECT_FALSE(contains(answer, fragment)) << c.question << "\n" << answer;
        }
        EXPECT_TRUE(result["conversationSummary"].is_string());
    }
}

TEST_F(HelperProcessTest, OfflineWhenTheGatewayCannotBeReached) {
    std::string base = "http://127.0.0.1:" + std::to_string(unusedPort()) + "/v1";
    json result = response(run(gatewayRequest("dinner tomorrow?"), {}, base));
    std::string answer = answerOf(result);
    EXPECT_TRUE(
        contains(answer, "No language model was used (the model gateway could not be reached)"))
        << answer;
    EXPECT_TRUE(contains(answer, "Dinner tomorrow at 7")) << answer;
}

TEST_F(HelperProcessTest, OfflineKeepsTheRunningSummary) {
    json result =
        response(run(request("dentist?", {{"conversation_summary", "Earlier: dinner plans."}})));
    std::string summary = result.value("conversationSummary", "");
    EXPECT_TRUE(contains(summary, "Earlier: dinner plans.")) << summary;
    EXPECT_TRUE(contains(summary, "dentist?")) << summary;
}

// Without "db_path" the helper reads the one default shadow database, the one
// `orlune sync` and the application write.
TEST_F(HelperProcessTest, WithoutADatabasePathTheDefaultDatabaseIsRead) {
    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    writeShadowDatabase(dir.file("data/OrluneRLM/shadow.db"), sampleMessages());
    json document = request("When is dinner tomorrow?");
    document.erase("db_path");
    std::string answer = answerOf(response(run(document)));
    EXPECT_TRUE(contains(answer, "Dinner tomorrow at 7")) << answer;

    json fromVariable = response(run(document, {"SHADOW_DB_PATH=" + dir.file("absent.db")}));
    expectError(fromVariable, "database_error", "nothing at " + dir.file("absent.db"));
}

TEST_F(HelperProcessTest, UnusableRequestsComeBackAsErrorObjects) {
    struct Case {
        std::string input;
        std::string type;
        std::string fragment;
    };
    const Case cases[] = {
        {"", "invalid_request", "not valid JSON"},
        {"{\"question\": ", "invalid_request", "not valid JSON"},
        {"[]", "invalid_request", "JSON object"},
        {json{{"db_path", dbPath}}.dump(), "invalid_request", "no question"},
        {json{{"question", "q"}, {"db_path", dbPath}, {"max_calls", 0}}.dump(), "invalid_request",
         "max_calls"},
        {json{{"question", "q"}, {"db_path", dir.file("missing.db")}}.dump(), "database_error",
         "Failed to open database"},
        {json{{"question", "q"}, {"db_path", dir.path().string()}}.dump(), "database_error", ""},
        {std::string(17 * 1024 * 1024, ' '), "invalid_request", "larger than 16 MB"},
    };
    for (const Case& c : cases) {
        ProcessResult result =
            runHelperProcess(c.input, {"HOME=" + dir.path().string()}, dir.path().string());
        SCOPED_TRACE(c.input.substr(0, 100));
        expectError(response(result), c.type, c.fragment);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.db")));
}

TEST_F(HelperProcessTest, ANonShadowDatabaseIsADatabaseError) {
    const std::string empty = dir.file("empty.db");
    writeFile(empty, "");
    ProcessResult result = run(request("dinner?", {{"db_path", empty}}));
    expectError(response(result), "database_error", "no such table");
}

// ---- with the model gateway ----

TEST_F(HelperProcessTest, ToolCallsRunAgainstTheDatabaseAndTheAnswerNamesItsMessages) {
    FakeGateway gateway({
        toolCallReply(
            {{"search_messages", R"({"query":"\"dinner\" OR \"dessert\"","limit":5})"},
             {"run_sql",
              R"({"sql":"SELECT sender, text FROM messages WHERE guid = 'g-dentist'"})"}}),
        toolCallReply({{"run_sql", R"({"sql":"DELETE FROM messages"})"},
                       {"run_sql", "{not json"},
                       {"no_such_tool", "{}"}}),
        toolCallReply({{"final_answer",
                        R"({"answer":"Dinner is tomorrow at 7 at Luigi's; you bring dessert.",)"
                        R"("sources":["g-dinner-1","g-dinner-2","not-a-guid' OR '1'='1"],)"
                        R"("summary":"User asked about dinner: tomorrow 7pm, Luigi's."})"}}),
    });
    json document =
        gatewayRequest("When is dinner?", {{"model", "test-model"},
                                           {"conversation_summary", "Earlier we spoke of hikes."},
                                           {"conversation_messages",
                                            {{{"role", "user"}, {"text", "Any hikes?"}},
                                             {{"role", "assistant"}, {"text", "Saturday."}}}}});
    const std::string databaseBefore = readFile(dbPath);
    ProcessResult process = run(document, {}, gateway.baseUrl());
    EXPECT_EQ(readFile(dbPath), databaseBefore); // only read, byte for byte
    EXPECT_FALSE(contains(process.err, "tool search_messages")) << process.err; // not verbose
    json result = response(process);
    std::string answer = answerOf(result);
    EXPECT_TRUE(contains(answer, "Dinner is tomorrow at 7 at Luigi's; you bring dessert."))
        << answer;
    EXPECT_TRUE(
        contains(answer, "+15550001 in Family, Wed 8 Mar 2023, 20:26: \"Dinner tomorrow at 7"))
        << answer;
    EXPECT_TRUE(contains(answer, "You in Family")) << answer;
    EXPECT_FALSE(contains(answer, "dentist")) << answer; // only the cited messages are named
    EXPECT_EQ(result.value("conversationSummary", ""),
              "User asked about dinner: tomorrow 7pm, Luigi's.");

    auto received = gateway.received();
    ASSERT_EQ(received.size(), 3u);
    for (const auto& call : received) {
        EXPECT_EQ(call.method, "POST");
        EXPECT_EQ(call.path, "/v1/chat/completions");
        EXPECT_EQ(call.authorization, std::string("Bearer ") + kApiKey);
        EXPECT_EQ(call.body.value("model", ""), "test-model");
    }
    const json& first = received[0].body;
    EXPECT_EQ(toolNames(first), (std::vector<std::string>{"search_messages", "run_sql",
                                                          "ask_submodel", "final_answer"}));
    const json& messages = first["messages"];
    ASSERT_EQ(messages.size(), 4u);
    std::string system = messages[0]["content"];
    EXPECT_TRUE(contains(system, "messages(rowid INTEGER, guid TEXT NOT NULL")) << system;
    EXPECT_TRUE(contains(system, "chat_participants(")) << system;
    EXPECT_TRUE(contains(system, "Earlier we spoke of hikes.")) << system;
    EXPECT_TRUE(contains(system, "holds 5 messages")) << system;
    EXPECT_EQ(messages[1], (json{{"role", "user"}, {"content", "Any hikes?"}}));
    EXPECT_EQ(messages[2], (json{{"role", "assistant"}, {"content", "Saturday."}}));
    EXPECT_EQ(messages[3], (json{{"role", "user"}, {"content", "When is dinner?"}}));

    auto second = toolResults(received[1].body);
    ASSERT_EQ(second.size(), 2u);
    json hits = json::parse(second[0]);
    ASSERT_EQ(hits["matches"].size(), 2u);
    EXPECT_EQ(hits["matches"][0]["chat"], "Family");
    EXPECT_TRUE(contains(second[1], "alice@example.com")) << second[1];
    EXPECT_TRUE(contains(second[1], "dentist appointment")) << second[1];
    // The assistant turn with its tool calls is echoed before the results.
    EXPECT_TRUE(received[1].body["messages"][4].contains("tool_calls"));

    auto third = toolResults(received[2].body);
    ASSERT_EQ(third.size(), 5u);
    EXPECT_TRUE(contains(third[2], "Only read-only SQL statements are allowed")) << third[2];
    EXPECT_TRUE(contains(third[3], "not a JSON object")) << third[3];
    EXPECT_TRUE(contains(third[4], "Unknown tool")) << third[4];
    EXPECT_EQ(countMessages(dbPath), 5);
}

TEST_F(HelperProcessTest, HugeToolCallsAreRefusedOrCutAndTheModelIsTold) {
    std::string near = "NEAR(";
    for (int i = 0; i < 30000; ++i) {
        near += "a* ";
    }
    near += ", 1000000)";
    std::string pizzas = "pizza";
    while (pizzas.size() < 1000000) {
        pizzas += " OR pizza";
    }
    FakeGateway gateway({
        toolCallReply({
            {"run_sql",
             R"j({"sql":"SELECT printf('%.*c',999999999,'x') FROM messages","limit":5})j"},
            {"run_sql", R"j({"sql":"SELECT zeroblob(999999999)"})j"},
            {"search_messages", json{{"query", near}}.dump()},
            {"search_messages", json{{"query", pizzas}}.dump()},
            {"run_sql", R"j({"sql":"SELECT printf('%.*c', 600000, 'x') AS v"})j"},
        }),
        contentReply("Nothing to report."),
    });
    ProcessResult process = run(gatewayRequest("Anything?"), {}, gateway.baseUrl());
    EXPECT_EQ(answerOf(response(process)), "Nothing to report.");

    auto received = gateway.received();
    ASSERT_EQ(received.size(), 2u);
    auto results = toolResults(received[1].body);
    ASSERT_EQ(results.size(), 5u);
    const char* expected[] = {
        "would be larger than 16777216 bytes",
        "would be larger than 16777216 bytes",
        "The search expression is 90015 bytes long; at most 4096 bytes are allowed",
        "The search expression is 1000004 bytes long; at most 4096 bytes are allowed",
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(contains(json::parse(results[i]).value("error", ""), expected[i]))
            << results[i];
    }
    json cut = json::parse(results[4]);
    EXPECT_EQ(cut.value("note", ""), "1 value was cut to its first 4 KiB.");
    EXPECT_EQ(cut.value("truncated", false), true);
    EXPECT_EQ(countMessages(dbPath), 5);
}

TEST_F(HelperProcessTest, SubModelsRecurseDownToTheDepthLimit) {
    FakeGateway gateway({
        toolCallReply(
            {{"ask_submodel",
              R"({"question":"Who brings dessert?","text":"me: I will bring dessert"})"}}),
        toolCallReply({{"ask_submodel", R"({"question":"Is 'me' the user?","text":"me"})"}}),
        contentReply("Yes, 'me' is the user."),
        contentReply("The user brings dessert."),
        // The root's answer as a list of parts, as some gateways send it.
        httpReply(
            200,
            R"({"choices":[{"message":{"role":"assistant","content":)"
            R"([{"type":"text","text":"You are "},{"type":"text","text":"bringing dessert."}]}}]})"),
    });
    json result = response(
        run(gatewayRequest("Who brings dessert?", {{"max_depth", 2}}), {}, gateway.baseUrl()));
    EXPECT_EQ(answerOf(result), "You are bringing dessert.");
    EXPECT_TRUE(contains(result.value("conversationSummary", ""), "Who brings dessert?"));

    auto received = gateway.received();
    ASSERT_EQ(received.size(), 5u);
    // Root, then a sub-model at depth 1 (may still recurse), then depth 2 (may not).
    EXPECT_EQ(toolNames(received[1].body),
              (std::vector<std::string>{"search_messages", "run_sql", "ask_submodel"}));
    EXPECT_EQ(toolNames(received[2].body),
              (std::vector<std::string>{"search_messages", "run_sql"}));
    std::string deepest = received[2].body["messages"][1]["content"];
    EXPECT_TRUE(contains(deepest, "Is 'me' the user?")) << deepest;
    EXPECT_TRUE(contains(toolResults(received[3].body).at(0), "Yes, 'me' is the user."));
    EXPECT_TRUE(contains(toolResults(received[4].body).at(0), "The user brings dessert."));
}

TEST_F(HelperProcessTest, ZeroDepthOffersNoSubModel) {
    FakeGateway gateway({
        toolCallReply({{"ask_submodel", R"({"question":"q","text":"t"})"}}),
        contentReply("Done."),
    });
    ProcessResult process =
        run(gatewayRequest("Secret plans?", {{"max_depth", 0}, {"verbose", true}}), {},
            gateway.baseUrl());
    EXPECT_EQ(answerOf(response(process)), "Done.");
    // Verbose diagnostics name the calls, never the content.
    EXPECT_TRUE(contains(process.err, "tool ask_submodel")) << process.err;
    EXPECT_FALSE(contains(process.err, "Secret plans")) << process.err;
    auto received = gateway.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(toolNames(received[0].body),
              (std::vector<std::string>{"search_messages", "run_sql", "final_answer"}));
    EXPECT_TRUE(contains(toolResults(received[1].body).at(0), "not available"));
}

TEST_F(HelperProcessTest, TheCallLimitIsKept) {
    {
        SCOPED_TRACE("the root keeps calling tools");
        FakeGateway gateway({
            toolCallReply({{"search_messages", R"({"query":"dinner"})"}}),
            toolCallReply({{"search_messages", R"({"query":"dinner"})"}}),
            toolCallReply({{"search_messages", R"({"query":"dinner"})"}}),
        });
        json result =
            response(run(gatewayRequest("dinner?", {{"max_calls", 2}}), {}, gateway.baseUrl()));
        expectError(result, "limit_exceeded", "2 calls");
        auto received = gateway.received();
        ASSERT_EQ(received.size(), 2u);
        // The last call is the root's, without tools and told to answer.
        EXPECT_FALSE(received[1].body.contains("tools"));
        EXPECT_TRUE(
            contains(received[1].body["messages"].back()["content"], "No tool calls are left"));
    }
    {
        SCOPED_TRACE("a sub-model may not use the root's last call");
        FakeGateway gateway({
            toolCallReply({{"ask_submodel", R"({"question":"q","text":"t"})"}}),
            contentReply("Answered without the sub-model."),
        });
        json result =
            response(run(gatewayRequest("dinner?", {{"max_calls", 2}}), {}, gateway.baseUrl()));
        EXPECT_EQ(answerOf(result), "Answered without the sub-model.");
        auto received = gateway.received();
        ASSERT_EQ(received.size(), 2u);
        EXPECT_TRUE(contains(toolResults(received[1].body).at(0), "no model calls are left"));
    }
}

TEST_F(HelperProcessTest, GatewayFailuresComeBackAsErrorObjects) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        std::string type;
        std::string fragment;
    };
    const Case cases[] = {
        {"body not JSON", httpReply(200, "<html>oops</html>"), "gateway_error", "not valid JSON"},
        {"no choices", httpReply(200, R"({"choices":[]})"), "gateway_error", "without a message"},
        {"empty answer", contentReply("   "), "gateway_error", "empty answer"},
        {"error body with status 200", httpReply(200, R"({"error":{"message":"model not found"}})"),
         "gateway_error", "reported an error: model not found"},
        {"HTTP 401 echoing the key",
         httpReply(401, std::string(R"({"error":{"message":"invalid key )") + kApiKey + "\"}}"),
         "gateway_error", "HTTP status 401: invalid key [redacted]"},
        {"HTTP 500 without body", httpReply(500, ""), "gateway_error", "HTTP status 500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeGateway gateway({c.reply});
        expectError(response(run(gatewayRequest("dinner?"), {}, gateway.baseUrl())), c.type,
                    c.fragment);
    }
}

TEST_F(HelperProcessTest, ErrorMidLoopStillFails) {
    FakeGateway gateway({
        toolCallReply({{"search_messages", R"({"query":"dinner"})"}}),
        httpReply(503, R"({"error":"overloaded"})"),
    });
    expectError(response(run(gatewayRequest("dinner?"), {}, gateway.baseUrl())), "gateway_error",
                "HTTP status 503: overloaded");
}

TEST_F(HelperProcessTest, ASlowAnswerPastTheDeadlineIsATimeout) {
    ScriptedReply slow = contentReply("too late");
    slow.delay = std::chrono::seconds(30);
    FakeGateway gateway({slow});
    ProcessResult result =
        run(gatewayRequest("dinner?"), {"ORLUNE_RLM_DEADLINE_SECONDS=2"}, gateway.baseUrl());
    expectError(response(result), "timeout", "took too long");
    EXPECT_LE(gateway.received().size(), 1u);
}

} // namespace
} // namespace orlune::testing
