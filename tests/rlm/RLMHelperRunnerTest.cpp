#include "services/RLMHelperRunner.hpp"

#include "services/RLMHelperError.hpp"
#include "tests/rlm/RlmTestFolder.hpp"
#include "tests/support/ProcessRun.hpp"

#include <QtConcurrent/QtConcurrent>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace orlune::rlm {
namespace {

using testing::readFile;
using testing::RlmTestFolder;
using testing::ScopedEnv;
using testing::writeFile;
using Env = RLMHelperRunner::EnvironmentMap;

// Answers every run at once, keeping what it was asked to start.
class RecordingLauncher final : public ProcessLauncher {
public:
    ProcessOutcome run(const ProcessSpec& launch, const std::string& input) const override {
        ++calls;
        lastSpec = launch;
        lastInput = input;
        return ProcessOutcome{0, R"({"answer":"faked"})", ""};
    }
    mutable std::atomic<int> calls{0};
    mutable ProcessSpec lastSpec;
    mutable std::string lastInput;
};

class RLMHelperRunnerTest : public ::testing::Test {
protected:
    RLMHelperRunnerTest() {
        writeFile(dbPath(), "");
        std::filesystem::create_directories(helperFolder());
        liveEnv = {{"PATH", "/usr/bin:/bin"},
                   {"HOME", folder.dir().path().string()},
                   {"OUT", folder.file("")}};
    }

    std::string dbPath() const { return folder.file("shadow.db"); }
    std::string resources() const { return folder.file("resources"); }
    std::string helperFolder() const { return resources() + "/rlm"; }
    std::string helperPath() const { return helperFolder() + "/orlune-rlm-helper"; }
    std::string requestPath() const { return folder.file("request.json"); }

    RLMHelperRunner::Seams seams() const {
        RLMHelperRunner::Seams seams;
        seams.resourcesFolder = resources();
        seams.liveEnvironment = [this] { return liveEnv; };
        seams.logger = folder.logger("rlm-helper");
        return seams;
    }
    // A runner whose resource helper is a shell script with `body`.
    RLMHelperRunner directRunner(const std::string& body,
                                 std::optional<std::string> key = "key") const {
        RlmTestFolder::writeScript(helperPath(), body);
        return RLMHelperRunner(std::move(key), Env{}, seams());
    }
    RLMHelperRunner shellRunner(const std::string& command, Env env = {}) const {
        env["ORLUNE_RLM_HELPER_CMD"] = command;
        return RLMHelperRunner("key", env, seams());
    }
    // The child's environment, as written by `env` into OUT/env.txt.
    Env childEnvironment() const {
        Env result;
        const std::string text = readFile(folder.file("env.txt"));
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            if (const size_t equals = line.find('='); equals != std::string::npos) {
                result[line.substr(0, equals)] = line.substr(equals + 1);
            }
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return result;
    }

    RlmTestFolder folder;
    Env liveEnv;
};

std::string describe(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

TEST_F(RLMHelperRunnerTest, ResponsesAndFailures) {
    const struct {
        const char* name;
        const char* script;
        std::optional<HelperResult> result;
        std::string error; // the whole description, or its start when it ends in "..."
    } cases[] = {
        {"answer, trimmed; summary as sent",
         R"(cat >/dev/null; printf '%s' '{"answer":"  It was Saturday.\n\t","conversationSummary":" sum \n"}')",
         HelperResult{"It was Saturday.", " sum \n", {}, std::nullopt}, ""},
        {"answer without summary", R"(printf '%s' '{"answer":"yes","conversationSummary":null}')",
         HelperResult{"yes", std::nullopt, {}, std::nullopt}, ""},
        {"summary under the request's key",
         R"(printf '%s' '{"answer":"yes","conversation_summary":"s"}')",
         HelperResult{"yes", std::nullopt, {}, std::nullopt}, ""},
        {"blank lines around the response", R"(printf '\n\n  {"answer":"ok"}\n\n')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"null error", R"(printf '%s' '{"answer":"ok","error":null,"extra":[1]}')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        // The messages an answer relies on: optional, in order; what cannot
        // be read is left out rather than failing the answer.
        {"cited messages",
         R"(printf '%s' '{"answer":"ok","messages":[{"guid":"g1","sender_name":"Sam","chat_title":"Family","time":"Tue 9 Dec, 18:40","text":"Dinner at 8?"},{"guid":"g2","text":"x","sender_name":7},{"guid":"g3"},{"text":""},"loose",[1]]}')",
         HelperResult{
             "ok",
             std::nullopt,
             {{"g1", "Sam", "Family", "Tue 9 Dec, 18:40", "Dinner at 8?"}, {"g2", "", "", "", "x"}},
             std::nullopt},
         ""},
        // Who answered: a model by name, or the index alone ("model": null);
        // anything else leaves it unknown.
        {"the model that answered", R"(printf '%s' '{"answer":"ok","model":" gpt-test "}')",
         HelperResult{"ok", std::nullopt, {}, "gpt-test", AnswerSource::model}, ""},
        {"a model that is not text", R"(printf '%s' '{"answer":"ok","model":["gpt"]}')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"a blank model", R"(printf '%s' '{"answer":"ok","model":"  "}')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"a null model", R"(printf '%s' '{"answer":"ok","model":null}')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt, AnswerSource::index}, ""},
        {"cited messages that are not a list",
         R"(printf '%s' '{"answer":"ok","messages":{"guid":"g1","text":"t"}}')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"error object wins over the answer",
         R"(printf '%s' '{"answer":"x","error":{"type":"RateLimit","message":"slow down"}}')",
         std::nullopt, "RLM helper failed: RateLimit: slow down"},
        {"non-zero exit with standard error", "cat >/dev/null; echo '  boom\n' >&2; exit 3",
         std::nullopt, "RLM helper failed: boom"},
        {"non-zero exit, a response and no standard error",
         R"(printf '%s' '{"answer":"x"}'; exit 2)", std::nullopt,
         "RLM helper failed with exit code 2."},
        {"non-zero exit with blank standard error", "echo '   ' >&2; exit 1", std::nullopt,
         "RLM helper failed with exit code 1."},
        {"non-zero exit with standard error that is not UTF-8", R"(printf 'bad \377' >&2; exit 5)",
         std::nullopt, "RLM helper failed with exit code 5."},
        {"killed by a signal", "kill -9 $$", std::nullopt, "RLM helper failed with exit code 137."},
        {"nothing on standard output", "cat >/dev/null", std::nullopt,
         "RLM helper returned no output."},
        {"blank output", R"(printf '  \n\t\n')", std::nullopt, "RLM helper returned no output."},
        {"output that is not UTF-8", R"(printf '{"answer":"\377"}')", std::nullopt,
         "RLM helper returned no output."},
        {"answer of two spaces", R"(printf '%s' '{"answer":"  "}')", std::nullopt,
         "RLM helper returned no output."},
        {"empty object", "printf '{}'", std::nullopt, "RLM helper returned no output."},
        // What a login shell's profile prints before the helper runs is skipped.
        {"profile output before the response",
         R"(printf 'Welcome to zsh\n{ not json\n{"answer":"ok"}\n')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"profile output before a pretty-printed response",
         R"(printf 'nvm: using node 20\n{\n  "answer": "ok",\n  "error": null\n}\n')",
         HelperResult{"ok", std::nullopt, {}, std::nullopt}, ""},
        {"profile output and no response", R"(printf 'Welcome\n{ not json\n')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"text around the JSON", R"(printf 'Thinking...\n{"answer":"x"}\nDone.\n')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"text before the JSON on its line", R"(printf 'noise {"answer":"x"}')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"two objects", R"(printf '%s' '{"answer":"x"}{"answer":"y"}')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"error without message", R"(printf '%s' '{"error":{"type":"T"}}')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"answer that is not text", R"(printf '%s' '{"answer":42}')", std::nullopt,
         "RLM helper response decode failed: ..."},
        {"not an object", R"(printf '%s' '["x"]')", std::nullopt,
         "RLM helper response decode failed: ..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RLMHelperRunner runner = directRunner(c.script);
        if (c.result) {
            EXPECT_EQ(runner.run("Q", dbPath()), *c.result);
            continue;
        }
        const std::string description = describe([&] { runner.run("Q", dbPath()); });
        if (c.error.ends_with("...")) {
            const std::string start = c.error.substr(0, c.error.size() - 3);
            EXPECT_TRUE(description.starts_with(start) && description.size() > start.size())
                << description;
        } else {
            EXPECT_EQ(description, c.error);
        }
    }
}

TEST_F(RLMHelperRunnerTest, ErrorKindsCarryTheirDetails) {
    try {
        directRunner(R"(printf '%s' '{"error":{"type":"Gateway","message":"down"}}')")
            .run("Q", dbPath());
        FAIL();
    } catch (const RLMHelperError& error) {
        EXPECT_EQ(error.kind(), RLMHelperError::Kind::processFailure);
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.detail(), "Gateway: down");
    }
    EXPECT_STREQ(RLMHelperError::missingHelperCommand().what(),
                 "RLM helper command not set. Set ORLUNE_RLM_HELPER_CMD.");
}

TEST_F(RLMHelperRunnerTest, TheHelperReceivesTheExactRequest) {
    const std::string copy = R"(cat > "$OUT/request.json"; printf '%s' '{"answer":"ok"}')";
    const std::string db = dbPath();

    directRunner(copy, "k/ey").run("When is the party?", db);
    EXPECT_EQ(readFile(requestPath()),
              R"({"api_key":"k/ey","question":"When is the party?","db_path":")" + db +
                  R"(","verbose":false})");

    liveEnv["ORLUNE_RLM_MODEL"] = ""; // blank: as if unset
    directRunner(copy, std::nullopt)
        .run("Q \"quoted\"", db, {{"user", "a"}, {"assistant", "b\nc"}, {"system", "ü"}},
             "the summary");
    EXPECT_EQ(readFile(requestPath()),
              R"({"question":"Q \"quoted\"","db_path":")" + db +
                  R"(","verbose":false,"conversation_messages":[{"role":"user","text":"a"},)"
                  R"({"role":"assistant","text":"b\nc"},{"role":"system","text":"ü"}],)"
                  R"("conversation_summary":"the summary"})");

    // The model variable is read afresh on every run; an empty summary is still sent.
    liveEnv["ORLUNE_RLM_MODEL"] = "small-model";
    directRunner(copy, "").run("Q", db, {}, "");
    EXPECT_EQ(readFile(requestPath()),
              R"({"api_key":"","question":"Q","db_path":")" + db +
                  R"(","model":"small-model","verbose":false,"conversation_summary":""})");

    // The index's answer: neither the key nor the model goes with it.
    directRunner(copy, "k/ey").answerFromIndex("Q", db);
    EXPECT_EQ(readFile(requestPath()),
              R"({"question":"Q","db_path":")" + db + R"(","verbose":false,"index_only":true})");
}

// The saved model server and model reach the helper unless the environment
// names others; the variables are read at every run.
TEST_F(RLMHelperRunnerTest, TheEnvironmentWinsOverTheSavedModelServerAndModel) {
    RlmTestFolder::writeScript(helperPath(),
                               R"(cat > "$OUT/request.json"; printf '%s' '{"answer":"ok"}')");
    const struct {
        const char* name;
        std::optional<std::string> savedAddress;
        std::optional<std::string> addressVariable;
        std::optional<std::string> savedModel;
        std::optional<std::string> modelVariable;
        std::optional<std::string> expectedAddress;
        std::optional<std::string> expectedModel;
        // Without a key only a server on this machine answers with a model.
        bool asksAModel;
    } cases[] = {
        {"nothing anywhere", {}, {}, {}, {}, {}, {}, false},
        {"saved only",
         " http://127.0.0.1:8080/v1 ",
         {},
         "llama",
         {},
         "http://127.0.0.1:8080/v1",
         "llama",
         true},
        {"variables win", "http://127.0.0.1:8080/v1", "https://gw.example/v1", "llama", "big",
         "https://gw.example/v1", "big", false},
        {"blank variables are unset", "http://localhost:11434/v1", "  ", "qwen", "",
         "http://localhost:11434/v1", "qwen", true},
        {"blank settings are unset", " ", {}, "", {}, {}, {}, false},
        {"variables alone",
         {},
         "http://[::1]:1234/v1",
         {},
         "phi",
         "http://[::1]:1234/v1",
         "phi",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        liveEnv.erase("VEYRLINK_BASE_URL");
        liveEnv.erase("ORLUNE_RLM_MODEL");
        if (c.addressVariable) {
            liveEnv["VEYRLINK_BASE_URL"] = *c.addressVariable;
        }
        if (c.modelVariable) {
            liveEnv["ORLUNE_RLM_MODEL"] = *c.modelVariable;
        }
        AppConfig config;
        config.modelServerAddress = c.savedAddress;
        config.modelName = c.savedModel;
        RLMHelperRunner(config, Env{}, seams()).run("Q", dbPath());
        EXPECT_EQ(RLMHelperRunner(config, Env{}, seams()).asksAModel(), c.asksAModel);
        config.veyrlinkApiKey = "k";
        EXPECT_TRUE(RLMHelperRunner(config, Env{}, seams()).asksAModel()) << "with a key";
        config.veyrlinkApiKey = " ";
        EXPECT_EQ(RLMHelperRunner(config, Env{}, seams()).asksAModel(), c.asksAModel)
            << "a blank key is none";
        const auto request = nlohmann::json::parse(readFile(requestPath()));
        EXPECT_FALSE(request.contains("api_key")) << "the key is optional";
        EXPECT_EQ(request.contains("base_url"), c.expectedAddress.has_value()) << request;
        EXPECT_EQ(request.contains("model"), c.expectedModel.has_value()) << request;
        if (c.expectedAddress) {
            EXPECT_EQ(request["base_url"], *c.expectedAddress);
        }
        if (c.expectedModel) {
            EXPECT_EQ(request["model"], *c.expectedModel);
        }
    }
}

TEST_F(RLMHelperRunnerTest, TheKeyComesFromTheConfigurationThenTheEnvironment) {
    RlmTestFolder::writeScript(helperPath(), "exit 0");
    const struct {
        std::optional<std::string> given;
        std::optional<std::string> variable;
        std::optional<std::string> expected;
    } cases[] = {
        {"cfg", "env", "cfg"},
        {"", "env", ""},     // an empty stored key is sent; the variable is not consulted
        {"  ", "env", "  "}, // nor trimmed
        {std::nullopt, "env", "env"},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        Env env;
        if (c.variable) {
            env["VEYRLINK_API_KEY"] = *c.variable;
        }
        EXPECT_EQ(RLMHelperRunner(c.given, env, seams()).apiKey(), c.expected);
    }
}

TEST_F(RLMHelperRunnerTest, ResolvingTheHelper) {
    // No resource helper, no command.
    EXPECT_EQ(describe([&] { RLMHelperRunner("k", Env{}, seams()); }),
              "Bundled RLM helper not found in app resources.");
    EXPECT_EQ(describe([&] {
                  RLMHelperRunner("k", Env{{"ORLUNE_RLM_HELPER_CMD", " \n\t"}}, seams());
              }),
              "Bundled RLM helper not found in app resources.");
    RLMHelperRunner::Seams noResources = seams();
    noResources.resourcesFolder = folder.file("nowhere");
    EXPECT_THROW(RLMHelperRunner("k", Env{}, noResources), RLMHelperError);

    RlmTestFolder::writeScript(helperPath(), "exit 0");
    const RLMHelperRunner blankCommand("k", Env{{"ORLUNE_RLM_HELPER_CMD", "  "}}, seams());
    EXPECT_FALSE(blankCommand.usesShellCommand());
    EXPECT_EQ(blankCommand.commandText(), helperPath());
    EXPECT_EQ(blankCommand.resourceRoot(), helperFolder());

    const RLMHelperRunner command = shellRunner("  my-helper --fast \n");
    EXPECT_TRUE(command.usesShellCommand());
    EXPECT_EQ(command.commandText(), "my-helper --fast");
    EXPECT_EQ(command.resourceRoot(), std::nullopt);
    EXPECT_EQ(shellRunner("h", {{"ORLUNE_RLM_RESOURCE_ROOT", " /r \n"}}).resourceRoot(), "/r");
    EXPECT_EQ(shellRunner("h", {{"ORLUNE_RLM_RESOURCE_ROOT", "  "}}).resourceRoot(), "");
}

TEST_F(RLMHelperRunnerTest, InABundleTheHelperBesideTheExecutableComesFirst) {
    const std::string macOS = folder.file("Orlune RLM.app/Contents/MacOS");
    std::filesystem::create_directories(macOS);
    std::filesystem::create_directories(folder.file("tools/bin"));
    for (const std::string& place : {macOS, folder.file("tools/bin")}) {
        RlmTestFolder::writeScript(place + "/orlune-rlm-helper", "exit 0");
    }
    const struct {
        std::string executableFolder;
        std::optional<std::string> helper;
    } cases[] = {
        {macOS, macOS + "/orlune-rlm-helper"},
        {macOS + "/", macOS + "/orlune-rlm-helper"},
        // A helper beside a program that is not in a bundle is not taken.
        {folder.file("tools/bin"), std::nullopt},
        // A bundle without the helper.
        {folder.file("Other.app/Contents/MacOS"), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RLMHelperRunner::helperInBundle(c.executableFolder), c.helper)
            << c.executableFolder;
    }
}

TEST_F(RLMHelperRunnerTest, ShellCommandsRunThroughALoginShell) {
    const RLMHelperRunner runner = shellRunner(
        R"(cat | tee "$OUT/request.json" >/dev/null && printf '{"answer":"%s"}' "$0 $-" )");
    const HelperResult result = runner.run("Q", dbPath());
    EXPECT_EQ(result.answer.substr(0, RLMHelperRunner::loginShell().size()),
              RLMHelperRunner::loginShell());
    EXPECT_NE(readFile(requestPath()).find(R"("question":"Q")"), std::string::npos);
}

TEST_F(RLMHelperRunnerTest, ShellModeEnvironment) {
    const std::string dumpEnv = R"(env > "$OUT/env.txt"; printf '{"answer":"ok"}')";

    // No resource folder: nothing is added.
    shellRunner(dumpEnv).run("Q", dbPath());
    Env child = childEnvironment();
    EXPECT_EQ(child.count("ORLUNE_RLM_RESOURCE_ROOT"), 0u);
    EXPECT_EQ(child.count("PYTHONPATH"), 0u);
    EXPECT_EQ(child.count("PYTHONHOME"), 0u);
    EXPECT_EQ(child["OUT"], liveEnv["OUT"]);

    // A blank folder counts as none; the inherited value stays untrimmed.
    liveEnv["ORLUNE_RLM_RESOURCE_ROOT"] = "   ";
    shellRunner(dumpEnv, {{"ORLUNE_RLM_RESOURCE_ROOT", "   "}}).run("Q", dbPath());
    child = childEnvironment();
    EXPECT_EQ(child["ORLUNE_RLM_RESOURCE_ROOT"], "   ");
    EXPECT_EQ(child.count("PYTHONPATH"), 0u);

    // A folder given to the runner replaces the inherited one.
    std::filesystem::create_directories(folder.file("root/vendor"));
    shellRunner(dumpEnv, {{"ORLUNE_RLM_RESOURCE_ROOT", folder.file("root")}}).run("Q", dbPath());
    child = childEnvironment();
    EXPECT_EQ(child["ORLUNE_RLM_RESOURCE_ROOT"], folder.file("root"));
    EXPECT_EQ(child["PYTHONPATH"], folder.file("root") + "/vendor");
}

TEST_F(RLMHelperRunnerTest, ResourceHelperGetsThePythonRuntime) {
    const std::string versions = helperFolder() + "/python/Python.framework/Versions";
    for (const char* name : {"Current", "3.12", "3.11", "lib"}) {
        std::filesystem::create_directories(versions + "/" + name);
    }
    std::filesystem::create_directories(helperFolder() + "/vendor");
    std::filesystem::create_directories(helperFolder() + "/orl-rlm/src");
    // The environment is read from what the runner hands the launcher: a
    // child started through /bin/sh would not show it whole on the Mac, where
    // System Integrity Protection strips DYLD_* variables from protected
    // programs.
    auto launcher = std::make_shared<RecordingLauncher>();
    RLMHelperRunner::Seams withLauncher = seams();
    withLauncher.launcher = launcher;
    RlmTestFolder::writeScript(helperPath(), "exit 0");
    const RLMHelperRunner runner("key", Env{}, withLauncher);

    runner.run("Q", dbPath());
    Env child = launcher->lastSpec.environment;
    EXPECT_EQ(child["ORLUNE_RLM_RESOURCE_ROOT"], helperFolder());
    EXPECT_EQ(child["PYTHONHOME"], versions + "/3.11");
    EXPECT_EQ(child["PYTHONPATH"], helperFolder() + "/orl-rlm/src:" + helperFolder() + "/vendor");
#ifdef __APPLE__
    EXPECT_EQ(child["DYLD_LIBRARY_PATH"], versions + "/3.11/lib");
    EXPECT_EQ(child["DYLD_FRAMEWORK_PATH"], helperFolder() + "/python");
#else
    EXPECT_EQ(child["LD_LIBRARY_PATH"], versions + "/3.11/lib");
    EXPECT_EQ(child.count("DYLD_FRAMEWORK_PATH"), 0u);
#endif

    // What the user set wins, even when empty.
    liveEnv["PYTHONPATH"] = "";
    liveEnv["PYTHONHOME"] = "/mine";
    liveEnv["LD_LIBRARY_PATH"] = "/my/lib";
    liveEnv["ORLUNE_RLM_RESOURCE_ROOT"] = "/inherited";
    runner.run("Q", dbPath());
    child = launcher->lastSpec.environment;
    EXPECT_EQ(child["PYTHONPATH"], "");
    EXPECT_EQ(child["PYTHONHOME"], "/mine");
    EXPECT_EQ(child["LD_LIBRARY_PATH"], "/my/lib");
    EXPECT_EQ(child["ORLUNE_RLM_RESOURCE_ROOT"], helperFolder());
}

TEST(ApplyBundledPythonEnvTest, VersionChoiceAndSearchPath) {
    testing::TempDir dir;
    const std::string root = dir.file("rlm");
    const std::string versions = root + "/python/Python.framework/Versions";
#ifdef __APPLE__
    const char* libraryVariable = "DYLD_LIBRARY_PATH";
#else
    const char* libraryVariable = "LD_LIBRARY_PATH";
#endif

    Env env;
    RLMHelperRunner::applyBundledPythonEnv(root, env); // nothing there
#ifdef __APPLE__
    EXPECT_EQ(env, (Env{{"DYLD_FRAMEWORK_PATH", root + "/python"}}));
#else
    EXPECT_TRUE(env.empty());
#endif

    std::filesystem::create_directories(versions + "/Current");
    std::filesystem::create_directories(versions + "/3.12");
    std::filesystem::create_directories(root + "/python/site-packages");
    env.clear();
    RLMHelperRunner::applyBundledPythonEnv(root, env);
    EXPECT_EQ(env["PYTHONHOME"], versions + "/3.12");
    EXPECT_EQ(env[libraryVariable], versions + "/3.12/lib");
    EXPECT_EQ(env["PYTHONPATH"], root + "/python/site-packages");
}

TEST_F(RLMHelperRunnerTest, FloodsOnBothStreamsNeverDeadlock) {
    // Several megabytes on each stream before the request is even read, while
    // the request itself is larger than a pipe holds.
    const RLMHelperRunner runner = directRunner(R"(
head -c 3000000 /dev/zero | tr '\0' 'e' >&2
printf '{"answer":"'
head -c 3000000 /dev/zero | tr '\0' 'a'
cat > "$OUT/request.json"
head -c 3000000 /dev/zero | tr '\0' 'e' >&2
printf '"}'
)");
    const std::string question(2000000, 'q');
    const HelperResult result = runner.run(question, dbPath());
    EXPECT_EQ(result.answer, std::string(3000000, 'a'));
    EXPECT_NE(readFile(requestPath()).find(question), std::string::npos);
}

TEST_F(RLMHelperRunnerTest, HelpersThatDoNotReadTheRequestDoNotHurtTheCaller) {
    const std::string question(8000000, 'q');
    EXPECT_EQ(directRunner(R"(printf '{"answer":"quick"}')").run(question, dbPath()).answer,
              "quick");
    EXPECT_EQ(describe([&] { directRunner("exit 4").run(question, dbPath()); }),
              "RLM helper failed with exit code 4.");
    EXPECT_EQ(directRunner(R"(exec 0<&-; sleep 0.1; printf '{"answer":"closed"}')")
                  .run(question, dbPath())
                  .answer,
              "closed");
    EXPECT_EQ(describe([&] {
                  directRunner("head -c 10 >/dev/null; echo 'gave up' >&2; exit 9")
                      .run(question, dbPath());
              }),
              "RLM helper failed: gave up");
}

TEST_F(RLMHelperRunnerTest, SkippedProfileOutputIsLoggedBySizeOnly) {
    directRunner(R"(printf 'secret motd line\nsecond line\n{"answer":"ok"}')").run("Q", dbPath());
    const auto entries = folder.loggedEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1]["message"], "rlm_helper_output_skipped");
    EXPECT_EQ(entries[1]["level"], "warning");
    EXPECT_EQ(entries[1]["skipped_bytes"], "29");
    EXPECT_EQ(entries[1]["skipped_lines"], "2");
    EXPECT_EQ(readFile(folder.file("log.jsonl")).find("motd"), std::string::npos);
}

TEST_F(RLMHelperRunnerTest, HelpersPastTheirBoundsAreEndedWithWhatTheyStarted) {
    // Each helper leaves a child behind first, which must die with it.
    const std::string child = R"(sleep 30 & echo $! > "$OUT/child.pid"; )";
    // A flood must meet its own bound before the time limit, even on a busy
    // machine, so those cases get a time limit they never reach.
    constexpr std::chrono::milliseconds shortLimit{400};
    constexpr std::chrono::milliseconds longLimit{20000};
    const struct {
        const char* name;
        std::string script;
        std::string error;
        const char* reason;
        std::chrono::milliseconds timeLimit = shortLimit;
    } cases[] = {
        {"runs past the time limit", child + "sleep 30",
         "RLM helper did not answer within 0.4 seconds and was stopped.", "time_limit"},
        {"floods standard output", child + "cat >/dev/null; exec head -c 20000000 /dev/zero",
         "RLM helper's reply was larger than 16 MB, so the helper was stopped.", "output_limit",
         longLimit},
        {"floods standard error", child + "head -c 20000000 /dev/zero >&2; sleep 30",
         "RLM helper wrote more than 16 MB of diagnostics, so the helper was stopped.",
         "error_output_limit", longLimit},
        {"closes its streams and runs on", child + "exec <&- >&- 2>&-; sleep 30",
         "RLM helper did not answer within 0.4 seconds and was stopped.", "time_limit"},
        {"keeps its output open through a child",
         R"(sleep 30 & echo $! > "$OUT/child.pid"; printf '{"answer":"early"}')",
         "RLM helper did not answer within 0.4 seconds and was stopped.", "time_limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(folder.file("child.pid"));
        RlmTestFolder::writeScript(helperPath(), c.script);
        RLMHelperRunner::Seams limited = seams();
        limited.timeLimit = c.timeLimit;
        const RLMHelperRunner runner("key", Env{}, limited);
        EXPECT_EQ(describe([&] { runner.run("Q", dbPath()); }), c.error);
        const pid_t pid = std::stoi(readFile(folder.file("child.pid")));
        EXPECT_TRUE(testing::processEnds(pid)) << "the helper's child " << pid << " still runs";
        const auto stopped = folder.loggedEntries().back();
        EXPECT_EQ(stopped["message"], "rlm_helper_stopped");
        EXPECT_EQ(stopped["reason"], c.reason);
    }
}

TEST_F(RLMHelperRunnerTest, AStopEndsTheHelperAtOnceOrKeepsItFromStarting) {
    const RLMHelperRunner runner = directRunner(
        R"(echo $$ > "$OUT/helper.pid"; sleep 30 & echo $! > "$OUT/child.pid"; sleep 30)");
    auto stop = std::make_shared<ProcessStop>();
    std::thread canceller([&] {
        while (!std::filesystem::exists(folder.file("child.pid"))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        stop->request();
        stop->request(); // again: harmless
    });
    EXPECT_EQ(describe([&] { runner.run("Q", dbPath(), {}, std::nullopt, stop); }),
              "The question was cancelled and the helper stopped.");
    canceller.join();
    EXPECT_TRUE(testing::processEnds(std::stoi(readFile(folder.file("helper.pid")))));
    EXPECT_TRUE(testing::processEnds(std::stoi(readFile(folder.file("child.pid")))));
    EXPECT_EQ(folder.loggedEntries().back()["reason"], "cancelled");

    // Requested before the run: nothing starts.
    std::filesystem::remove(folder.file("helper.pid"));
    EXPECT_EQ(describe([&] { runner.run("Q", dbPath(), {}, std::nullopt, stop); }),
              "The question was cancelled and the helper stopped.");
    EXPECT_FALSE(std::filesystem::exists(folder.file("helper.pid")));
}

TEST(RLMHelperRunnerTimeLimit, FollowsTheHelpersOwnDeadline) {
    using std::chrono::milliseconds;
    const struct {
        std::optional<std::string> deadline;
        milliseconds expected;
    } cases[] = {
        {std::nullopt, milliseconds(332000)},
        {"10", milliseconds(13000)},
        {"0.5", milliseconds(2550)},
        {" 20", milliseconds(24000)},  // read as the helper reads it
        {"20 ", milliseconds(332000)}, // which ignores this
        {"soon", milliseconds(332000)},
        {"-5", milliseconds(332000)},
        {"0", milliseconds(332000)},
        {"1e9", milliseconds(95042000)}, // at most a day, plus its share
    };
    for (const auto& c : cases) {
        Env env;
        if (c.deadline) {
            env["ORLUNE_RLM_DEADLINE_SECONDS"] = *c.deadline;
        }
        EXPECT_EQ(RLMHelperRunner::helperTimeLimit(env), c.expected)
            << c.deadline.value_or("unset");
    }
}

TEST_F(RLMHelperRunnerTest, AMissingDatabaseStartsNoProcess) {
    auto launcher = std::make_shared<RecordingLauncher>();
    RLMHelperRunner::Seams withLauncher = seams();
    withLauncher.launcher = launcher;
    RlmTestFolder::writeScript(helperPath(), "exit 0");
    const RLMHelperRunner runner("k", Env{}, withLauncher);
    EXPECT_EQ(describe([&] { runner.run("Q", folder.file("missing.db")); }),
              "shadow.db not found. Run sync first.");
    EXPECT_EQ(launcher->calls, 0);
    EXPECT_TRUE(folder.loggedEntries().empty());

    EXPECT_EQ(runner.run("Q", dbPath()).answer, "faked");
    EXPECT_EQ(launcher->calls, 1);
    EXPECT_EQ(launcher->lastSpec.executable, helperPath());
    EXPECT_TRUE(launcher->lastSpec.arguments.empty());
}

TEST_F(RLMHelperRunnerTest, ShellModeLaunchesTheLoginShellWithDashLc) {
    auto launcher = std::make_shared<RecordingLauncher>();
    RLMHelperRunner::Seams withLauncher = seams();
    withLauncher.launcher = launcher;
    RLMHelperRunner("k", Env{{"ORLUNE_RLM_HELPER_CMD", "helper --x | tee log"}}, withLauncher)
        .run("Q", dbPath());
    EXPECT_EQ(launcher->lastSpec.executable, RLMHelperRunner::loginShell());
    EXPECT_EQ(launcher->lastSpec.arguments,
              (std::vector<std::string>{"-lc", "helper --x | tee log"}));
}

TEST_F(RLMHelperRunnerTest, LogsTheStartWithoutSecrets) {
    directRunner(R"(printf '{"answer":"ok"}')", "secret-key").run("private question", dbPath());
    const auto entries = folder.loggedEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["message"], "rlm_helper_start");
    EXPECT_EQ(entries[0]["level"], "info");
    EXPECT_EQ(entries[0]["category"], "rlm-helper");
    EXPECT_EQ(entries[0]["command_configured"], "true");
    const std::string log = readFile(folder.file("log.jsonl"));
    EXPECT_EQ(log.find("secret-key"), std::string::npos);
    EXPECT_EQ(log.find("private question"), std::string::npos);
}

TEST_F(RLMHelperRunnerTest, LaunchFailuresAreThePlatformsError) {
    RlmTestFolder::writeScript(helperPath(), "exit 0");
    ::chmod(helperPath().c_str(), 0644);
    const RLMHelperRunner runner("k", Env{}, seams());
    try {
        runner.run("Q", dbPath());
        FAIL();
    } catch (const ProcessLauncher::LaunchError& error) {
        EXPECT_EQ(error.error(), EACCES);
        EXPECT_EQ(std::string(error.what()), helperPath() + ": " + std::strerror(EACCES));
    }
}

TEST_F(RLMHelperRunnerTest, RunsConcurrentlyOnPoolThreads) {
    // Each helper answers with its own question, slowly enough to overlap.
    const RLMHelperRunner runner = directRunner(
        R"sh(request=$(cat); sleep 0.2; printf '{"answer":"%s"}' "$(printf '%s' "$request" | sed 's/.*"question":"\([^"]*\)".*/\1/')")sh");
    QList<QFuture<HelperResult>> futures;
    for (int i = 0; i < 4; ++i) {
        const std::string question = "question " + std::to_string(i);
        futures.append(
            QtConcurrent::run([runner, question, this] { return runner.run(question, dbPath()); }));
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(futures[i].result().answer, "question " + std::to_string(i));
    }
}

} // namespace
} // namespace orlune::rlm
