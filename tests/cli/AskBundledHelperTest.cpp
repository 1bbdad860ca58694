// `orlune ask` end to end: with no helper command set, the bundled helper from
// the build tree's resources answers from a real shadow database.

#include "OrluneCore/ShadowDB.hpp"
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

    TempDir dir;
    ScopedEnv env_;
};

TEST_F(AskBundledHelperTest, AnswersFromTheIndexWithoutAKey) {
    const Outcome outcome = ask("When is dinner tomorrow?");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("No language model was used (no API key is configured)"),
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
    EXPECT_NE(outcome.out.find("alice@example.com in chat-alice"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find("sk-e2e-key-never-printed"), std::string::npos);
    EXPECT_EQ(outcome.err.find("sk-e2e-key-never-printed"), std::string::npos);
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
