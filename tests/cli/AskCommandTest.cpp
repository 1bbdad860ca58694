// `orlune ask`, run as a real process against helper scripts.

#include "tests/support/ProcessRun.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
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
    // The runner's log lines are not for the person reading the answer.
    EXPECT_EQ(outcome.err.find("\"rlm_helper_start\""), std::string::npos);
    const Outcome verbose =
        ask({"--verbose", "--shadow-db", dir.file("shadow.db"), "When is the party?"});
    EXPECT_EQ(verbose.out, "Saturday.\n");
    EXPECT_NE(verbose.err.find("\"rlm_helper_start\""), std::string::npos);
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

TEST_F(AskCommandTest, HelpersPastTheirBoundsAreEndedAndTheFailureSaysWhy) {
    const struct {
        const char* name;
        std::string helper;
        std::string deadline;
        int exitCode;
        std::string out;
        std::string error; // a part of standard error
    } cases[] = {
        {"never answers", "sleep 60", "0.1", 1, "",
         "RLM helper did not answer within 2.11 seconds and was stopped.\n"},
        {"prints a gigabyte", "cat >/dev/null; head -c 1000000000 /dev/zero", "", 1, "",
         "RLM helper's reply was larger than 16 MB, so the helper was stopped.\n"},
        {"a profile prints before the reply",
         R"(echo 'Last login: today'; printf '%s' '{"answer":"ok"}')", "", 0, "ok\n",
         "\"rlm_helper_output_skipped\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useHelper(c.helper);
        env_.set("ORLUNE_RLM_DEADLINE_SECONDS",
                 c.deadline.empty() ? std::nullopt : std::optional<std::string>(c.deadline));
        // --verbose: the runner's log lines are on standard error too.
        const Outcome outcome = ask({"--verbose", "--shadow-db", dir.file("shadow.db"), "Q"});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    }
}

TEST_F(AskCommandTest, ASignalStopsTheHelperAndEverythingItStarted) {
    useHelper(R"(sleep 60 & echo $! > "$OUT/child.pid"; sleep 60)");
    // ask in the background, then SIGTERM once the helper's child runs.
    const std::string script = "\"$0\" ask --shadow-db \"$1\" Q & ask=$!\n"
                               "while [ ! -s \"$OUT/child.pid\" ]; do sleep 0.05; done\n"
                               "kill -TERM $ask; wait $ask; echo \"status $?\"\n";
    const Outcome outcome = runProcess(
        "/bin/sh", {"-c", script, ORLUNE_CLI_PATH, dir.file("shadow.db")}, environmentWith({}));
    EXPECT_EQ(outcome.out, "status 143\n");
    EXPECT_TRUE(processEnds(std::stoi(readFile(dir.file("child.pid")))));
    EXPECT_NE(outcome.err.find("The question was cancelled and the helper stopped.\n"),
              std::string::npos)
        << outcome.err;
}

// --json: the answer, the messages it relies on and the model, as one object
// on standard output; failures stay on standard error.
TEST_F(AskCommandTest, JsonCarriesTheAnswerItsMessagesAndTheModel) {
    const struct {
        const char* name;
        std::string helper;
        std::vector<std::string> args;
        int exitCode;
        nlohmann::json out; // null: nothing on standard output
    } cases[] = {
        {"a model's answer with its messages",
         R"(printf '%s' '{"answer":"At 8.","model":"m-1","messages":[)"
         R"({"guid":"g2","sender_name":"Sam","chat_title":"Family","time":"Tue 9 Dec, 18:40","text":"8?"},)"
         R"({"guid":"g1","sender_name":"You","chat_title":"Family","time":"Tue 9 Dec, 18:41","text":"ok"}]}')",
         {"--json", "When?"},
         0,
         {{"answer", "At 8."},
          {"messages",
           {{{"guid", "g2"},
             {"sender_name", "Sam"},
             {"chat_title", "Family"},
             {"time", "Tue 9 Dec, 18:40"},
             {"text", "8?"}},
            {{"guid", "g1"},
             {"sender_name", "You"},
             {"chat_title", "Family"},
             {"time", "Tue 9 Dec, 18:41"},
             {"text", "ok"}}}},
          {"model", "m-1"}}},
        {"an answer naming no messages and no model, the option after the question",
         R"(printf '%s' '{"answer":" ok \n"}')",
         {"When?", "--json"},
         0,
         {{"answer", "ok"}, {"messages", nlohmann::json::array()}, {"model", nullptr}}},
        {"a failing helper", "echo 'no gateway' >&2; exit 3", {"--json", "When?"}, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useHelper(c.helper);
        std::vector<std::string> args = {"--shadow-db", dir.file("shadow.db")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = ask(args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        if (c.out.is_null()) {
            EXPECT_EQ(outcome.out, "");
            EXPECT_NE(outcome.err.find("no gateway"), std::string::npos) << outcome.err;
        } else {
            EXPECT_EQ(nlohmann::json::parse(outcome.out, nullptr, false), c.out) << outcome.out;
            EXPECT_TRUE(outcome.out.ends_with("\n"));
        }
    }
}

// A question over the length cap is refused before the helper starts; one
// with bytes that are not UTF-8 goes out with them replaced.
TEST_F(AskCommandTest, QuestionsAreBoundedAndMadeWellFormed) {
    const std::string db = dir.file("shadow.db");
    Outcome outcome = ask({"--shadow-db", db, std::string(4001, 'q')});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, "orlune ask: This question is 4,001 characters long; ask it in at "
                           "most 4,000 characters.\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("request.json")));

    outcome = ask({"--shadow-db", db, "dinner \xff\xfe?"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(nlohmann::json::parse(request())["question"], "dinner \xEF\xBF\xBD\xEF\xBF\xBD?");
}

// An answer quoting a message that holds terminal controls prints them
// escaped; line breaks stay.
TEST_F(AskCommandTest, ControlCharactersInTheAnswerAreEscaped) {
    useHelper(
        R"(cat > /dev/null; printf '%s' '{"answer":"Jess wrote:\n\u001b]0;T\u0007\u001b[2J\u009b1m hi"}')");
    const Outcome outcome = ask({"--shadow-db", dir.file("shadow.db"), "what did Jess write?"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Jess wrote:\n\\u001b]0;T\\u0007\\u001b[2J\\u009b1m hi\n");
}

TEST_F(AskCommandTest, UsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"   "}, {"--shadow-db"}, {"--bogus", "Q"}, {"--json"}}) {
        const Outcome outcome = ask(args);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_NE(outcome.err.find("Usage: orlune ask"), std::string::npos);
    }
}

} // namespace
} // namespace orlune::testing
