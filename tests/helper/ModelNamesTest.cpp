// What the model is told about the people behind the handles, and how the
// messages its answer cites are named, on a store whose people are in the
// address books (tests/support/PeopleStore.hpp). The gateway is a script in
// this process.

#include "helper/AgentPrompt.hpp"
#include "helper/HelperError.hpp"
#include "helper/RecursiveAgent.hpp"
#include "helper/ShadowDBTools.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/helper/HelperTestSupport.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/InstantText.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

namespace orlune::helper {
namespace {

using nlohmann::json;
using orlune::testing::TempDir;

// Replays completions and keeps the requests it was sent.
class ScriptedGateway : public ChatGateway {
public:
    explicit ScriptedGateway(std::vector<json> replies) : replies_(std::move(replies)) {}

    json complete(const json& request, std::chrono::milliseconds) override {
        requests.push_back(request);
        if (requests.size() > replies_.size()) {
            throw GatewayError(GatewayError::Kind::http, "script used up", 500);
        }
        return replies_[requests.size() - 1];
    }

    std::vector<json> requests;

private:
    std::vector<json> replies_;
};

json finalAnswer(const json& arguments) {
    return json{{"role", "assistant"},
                {"content", nullptr},
                {"tool_calls",
                 {{{"id", "call_1"},
                   {"type", "function"},
                   {"function", {{"name", "final_answer"}, {"arguments", arguments.dump()}}}}}}};
}

bool contains(const std::string& text, const std::string& fragment) {
    return text.find(fragment) != std::string::npos;
}

class ModelNamesTest : public ::testing::Test {
protected:
    void SetUp() override { orlune::testing::syncPeopleShadow(dir); }

    TempDir dir;
    orlune::testing::ScopedEnv zone{"TZ", std::string("UTC")};
};

// Alex Kim has three handles and three messages; Jess, Chloé, Sam and Acme
// Plumbing one message each; +15550100009 has no card.
TEST_F(ModelNamesTest, ThePeopleTableListsTheBusiestPeopleAndSaysHowManyAreLeftOut) {
    ShadowDBTools tools(dir.file("shadow.db"));

    const std::string all = peopleDescription(tools, 40);
    EXPECT_TRUE(contains(all, "- Alex Kim: ")) << all;
    for (const char* handle : {"+15550100001", "alex.k@example.com"}) {
        EXPECT_TRUE(contains(all.substr(all.find("- Alex Kim"), 200), handle)) << all;
    }
    EXPECT_TRUE(contains(all, "; 3 messages\n")) << all;
    EXPECT_TRUE(contains(all, "- Jess Day (also Jessie): +15550100002; 1 message\n")) << all;
    EXPECT_TRUE(contains(all, "Acme Plumbing")) << all;
    EXPECT_FALSE(contains(all, "+15550100009")) << all;
    EXPECT_FALSE(contains(all, "not listed")) << all;
    EXPECT_LT(all.find("Alex Kim"), all.find("Acme Plumbing")) << "most messages first";
    EXPECT_TRUE(contains(all, "<<<DATA ")) << "names from the address books are data";

    // Bounded: the first two (most messages, then by name), and the rest
    // counted.
    const std::string two = peopleDescription(tools, 2);
    EXPECT_TRUE(contains(two, "- Alex Kim: ")) << two;
    EXPECT_TRUE(contains(two, "- Acme Plumbing: +15550100005; 1 message\n")) << two;
    EXPECT_FALSE(contains(two, "Jess Day")) << two;
    EXPECT_TRUE(contains(two, "\n3 more people are not listed")) << two;
}

TEST(ModelNamesWithoutPeople, NoPeopleTableWithoutKnownPeople) {
    TempDir dir;
    orlune::testing::writeShadowDatabase(dir.file("shadow.db"), orlune::testing::sampleMessages());
    ShadowDBTools tools(dir.file("shadow.db"));
    EXPECT_EQ(peopleDescription(tools, 40), "");
}

TEST_F(ModelNamesTest, CitedMessagesCarryNamesTitlesAndTheModelsOrder) {
    ShadowDBTools tools(dir.file("shadow.db"));
    const json arguments = {{"answer", "Jess gave the flight number; you said she booked it."},
                            {"sources", {"m10", "m3", "no-such-guid", "m3", "x') OR 1=1 --"}}};
    ScriptedGateway gateway(std::vector<json>{finalAnswer(arguments)});
    RecursiveAgent agent(
        gateway, tools, "test-model", AgentLimits{}, nullptr,
        core::TimeContext{orlune::testing::instantAt("2025-12-10T12:00Z"), "UTC", "en_GB"});
    HelperRequest request;
    request.question = "What did Jess say about the flight?";
    const AgentAnswer answer = agent.answer(request);

    ASSERT_EQ(answer.cited.size(), 2u);
    EXPECT_EQ(answer.cited[0].guid, "m10");
    EXPECT_TRUE(answer.cited[0].isFromMe);
    EXPECT_EQ(answer.cited[0].senderName, std::nullopt);
    EXPECT_EQ(answer.cited[0].chatTitle, "Ski trip");
    EXPECT_EQ(answer.cited[1].guid, "m3");
    EXPECT_EQ(answer.cited[1].sender, "+15550100002");
    EXPECT_EQ(answer.cited[1].senderName, "Jess Day");
    EXPECT_EQ(answer.cited[1].chatTitle, "Alex, Jess and 3 others");
    EXPECT_TRUE(contains(answer.answer, "- You in Ski trip, ")) << answer.answer;
    EXPECT_TRUE(contains(answer.answer, "- Jess Day in Alex, Jess and 3 others, "))
        << answer.answer;
    EXPECT_LT(answer.answer.find("You in Ski trip"), answer.answer.find("Jess Day in"));

    // The people sit next to the time in the system prompt.
    ASSERT_EQ(gateway.requests.size(), 1u);
    const std::string system = gateway.requests[0]["messages"][0]["content"];
    EXPECT_TRUE(contains(system, "Jess Day (also Jessie): +15550100002")) << system;
    EXPECT_LT(system.find("It is now"), system.find("Jess Day")) << system;

    // A reply in plain text names no messages.
    ScriptedGateway plain(std::vector<json>{json{{"role", "assistant"}, {"content", "BA117."}}});
    RecursiveAgent plainAgent(plain, tools, "test-model", AgentLimits{});
    const AgentAnswer plainAnswer = plainAgent.answer(request);
    EXPECT_EQ(plainAnswer.answer, "BA117.");
    EXPECT_TRUE(plainAnswer.cited.empty());
}

} // namespace
} // namespace orlune::helper
