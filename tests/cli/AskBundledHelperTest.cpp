// `orlune ask` end to end: with no helper command set, the bundled helper from
// the build tree's resources answers from a real shadow database.

#include "shadow/ShadowDB.hpp"
#include "tests/helper/HelperTestSupport.hpp"
#include "tests/support/ProcessRun.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

class AskBundledHelperTest : public ::testing::Test {
protected:
    AskBundledHelperTest() : env_("HOME", dir.path().string()) {
        env_.set("XDG_DATA_HOME", dir.file("data"));
        env_.set("ORLUNE_DATA_DIR", dir.file("data"));
        env_.set("ORLUNE_RLM_HELPER_CMD", std::nullopt);
        env_.set("ORLUNE_RLM_RESOURCE_ROOT", std::nullopt);
        env_.set("VEYRLINK_API_KEY", std::nullopt);
        env_.set("ORLUNE_RLM_MODEL", std::nullopt);
        env_.set("VEYRLINK_BASE_URL", std::nullopt);

        core::ShadowDB db(dir.file("shadow.db"));
        db.createSchemaIfNeeded();
        db.insertBatch({
            core::ShadowMessage("g1", "chat-family", std::string("Family"), "+15550001",
                                "Dinner tomorrow at 7 at Luigi's?", 700000000000000000, false, true,
                                false, {}, 1),
            core::ShadowMessage("g2", "chat-alice", std::nullopt, "alice@example.com",
                                "The dentist appointment moved to Friday.", 700000100000000000,
                                false, false, false, {}, 2),
        });
    }

    using Outcome = ProcessResult;

    Outcome ask(const std::string& question) {
        return runProcess(ORLUNE_CLI_PATH, {"ask", "--shadow-db", dir.file("shadow.db"), question},
                          environmentWith({}));
    }

    // `orlune ask --json`'s object; a null value when the output is not one.
    nlohmann::json askJson(const std::string& question) {
        const Outcome outcome = runProcess(
            ORLUNE_CLI_PATH, {"ask", "--json", "--shadow-db", dir.file("shadow.db"), question},
            environmentWith({}));
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        nlohmann::json document = nlohmann::json::parse(outcome.out, nullptr, false);
        return document.is_object() ? document : nlohmann::json();
    }

    TempDir dir;
    ScopedEnv env_;
};

TEST_F(AskBundledHelperTest, AnswersFromTheIndexWithoutAKey) {
    const Outcome outcome = ask("When is dinner tomorrow?");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(
        outcome.out.find("Answer from your messages (no model used: no API key is configured)"),
        std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("+15550001 in Family"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("Dinner tomorrow at 7 at Luigi's?"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find("dentist"), std::string::npos) << outcome.out;
}

TEST_F(AskBundledHelperTest, AnswersFromTheIndexWhenTheGatewayCannotBeReached) {
    env_.set("VEYRLINK_API_KEY", "sk-e2e-key-never-printed");
    env_.set("VEYRLINK_BASE_URL", "http://127.0.0.1:" + std::to_string(unusedPort()) + "/v1");
    const Outcome outcome = ask("Anything about the dentist?");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("the model server could not be reached"), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("alice@example.com, "), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find("sk-e2e-key-never-printed"), std::string::npos);
    EXPECT_EQ(outcome.err.find("sk-e2e-key-never-printed"), std::string::npos);
}

TEST_F(AskBundledHelperTest, JsonNamesTheMessagesOfAnIndexAnswerAndNoModel) {
    const nlohmann::json document = askJson("When is dinner tomorrow?");
    ASSERT_TRUE(document.is_object());
    EXPECT_NE(document.value("answer", "").find("Dinner tomorrow at 7"), std::string::npos);
    EXPECT_TRUE(document["model"].is_null()) << document.dump();
    ASSERT_EQ(document["messages"].size(), 1u) << document.dump();
    EXPECT_EQ(document["messages"][0]["guid"], "g1");
    EXPECT_EQ(document["messages"][0]["sender_name"], "+15550001");
    EXPECT_EQ(document["messages"][0]["chat_title"], "Family");
    EXPECT_EQ(document["messages"][0]["text"], "Dinner tomorrow at 7 at Luigi's?");
    EXPECT_FALSE(document["messages"][0].value("time", "").empty());
}

TEST_F(AskBundledHelperTest, JsonNamesTheMessagesTheModelCitedAndTheModel) {
    FakeGateway local({toolCallReply(
        {{"final_answer", R"({"answer":"The dentist moved to Friday.","sources":["g2"]})"}})});
    env_.set("VEYRLINK_BASE_URL", local.baseUrl());
    env_.set("ORLUNE_RLM_MODEL", "local-model");
    const nlohmann::json document = askJson("When is the dentist?");
    ASSERT_TRUE(document.is_object());
    EXPECT_NE(document.value("answer", "").find("The dentist moved to Friday."), std::string::npos);
    EXPECT_EQ(document["model"], "local-model");
    ASSERT_EQ(document["messages"].size(), 1u) << document.dump();
    EXPECT_EQ(document["messages"][0]["guid"], "g2");
    EXPECT_EQ(document["messages"][0]["sender_name"], "alice@example.com");
    EXPECT_EQ(document["messages"][0]["chat_title"], "chat-alice");
    EXPECT_EQ(document["messages"][0]["text"], "The dentist appointment moved to Friday.");
}

// The saved model server and model, as the settings store them; a server on
// this machine needs no key, and ORLUNE_RLM_MODEL wins over the saved model.
TEST_F(AskBundledHelperTest, AsksTheSavedModelServer) {
    FakeGateway local({contentReply("Dinner is at 7."), contentReply("Still at 7.")});
    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    writeFile(dir.file("data/OrluneRLM/config.json"),
              nlohmann::json{{"modelServerAddress", local.baseUrl()}, {"modelName", "saved-model"}}
                  .dump());
    Outcome outcome = ask("When is dinner?");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Dinner is at 7.\n");

    env_.set("ORLUNE_RLM_MODEL", "env-model");
    outcome = ask("And now?");
    EXPECT_EQ(outcome.out, "Still at 7.\n") << outcome.err;

    auto received = local.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].authorization, "");
    EXPECT_EQ(received[0].body.value("model", ""), "saved-model");
    EXPECT_EQ(received[1].body.value("model", ""), "env-model");
}

} // namespace
} // namespace orlune::testing
