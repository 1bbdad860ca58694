// `orlune ask`, run as a real process against helper scripts.

#include "tests/support/ProcessRun.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::testing {
namespace {

using Outcome = ProcessResult;

class AskCommandTest : public ::testing::Test {
protected:
    AskCommandTest() : env_("HOME", dir.path().string()) {
        env_.set("XDG_DATA_HOME", dir.file("data"));
        env_.set("ORLUNE_DATA_DIR", dir.file("data"));
        env_.set("VEYRLINK_API_KEY", std::nullopt);
        env_.set("ORLUNE_RLM_MODEL", std::nullopt);
        env_.set("ORLUNE_RLM_RESOURCE_ROOT", std::nullopt);
        env_.set("OUT", dir.path().string());
        useHelper(R"(cat > "$OUT/request.json"; printf '%s' '{"answer":"  Saturday.\n"}')");
        writeFile(dir.file("shadow.db"), "");
    }

    void useHelper(const std::string& body) {
        writeFile(dir.file("helper.sh"), "#!/bin/sh\n" + body);
        ::chmod(dir.file("helper.sh").c_str(), 0755);
        env_.set("ORLUNE_RLM_HELPER_CMD", dir.file("helper.sh"));
    }

    // Runs `orlune ask` with `args` in this process's environment.
    Outcome ask(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"ask"};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(ORLUNE_CLI_PATH, argv, environmentWith({}));
    }

    std::string request() const { return readFile(dir.file("request.json")); }

    TempDir dir;
    ScopedEnv env_;
};

TEST_F(AskCommandTest, PrintsTheAnswer) {
    env_.set("VEYRLINK_API_KEY", "env-key");
    const Outcome outcome = ask({"--shadow-db", dir.file("shadow.db"), "When", "is the party?"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Saturday.\n");
    EXPECT_EQ(request(), R"({"api_key":"env-key","question":"When is the party?","db_path":")" +
                             dir.file("shadow.db") + R"(","verbose":false})");
    EXPECT_NE(outcome.err.find("\"rlm_helper_start\""), std::string::npos);
}

TEST_F(AskCommandTest, TheStoredKeyComesFirstAndTheDefaultDatabaseIsTheApplications) {
    env_.set("VEYRLINK_API_KEY", "env-key");
    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    writeFile(dir.file("data/OrluneRLM/config.json"), R"({"veyrlinkApiKey":"stored-key"})");
    writeFile(dir.file("data/OrluneRLM/shadow.db"), "");
    const Outcome outcome = ask({"--", "--odd question"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(request(), R"({"api_key":"stored-key","question":"--odd question","db_path":")" +
                             dir.file("data/OrluneRLM/shadow.db") + R"(","verbose":false})");
}

TEST_F(AskCommandTest, FailuresGoToStandardErrorWithANonZeroStatus) {
    Outcome outcome = ask({"--shadow-db", dir.file("missing.db"), "Q"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "shadow.db not found. Run sync first.\n");

    useHelper("echo 'gateway unreachable' >&2; exit 3");
    outcome = ask({"--shadow-db", dir.file("shadow.db"), "Q"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("RLM helper failed: gateway unreachable\n"), std::string::npos)
        << outcome.err;
}

TEST_F(AskCommandTest, UsageErrors) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"   "}, {"--shadow-db"}, {"--bogus", "Q"}}) {
        const Outcome outcome = ask(args);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_NE(outcome.err.find("Usage: orlune ask"), std::string::npos);
    }
}

} // namespace
} // namespace orlune::testing
