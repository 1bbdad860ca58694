// `orlune ask`: one question to the helper, answered on standard output.

#include "Command.hpp"
#include "QtApplication.hpp"
#include "answer/QuestionLength.hpp"
#include "services/ConfigManager.hpp"
#include "services/ProcessStop.hpp"
#include "services/RLMHelperError.hpp"
#include "services/RLMHelperRunner.hpp"
#include "services/StructuredLogger.hpp"
#include "services/TextTrimming.hpp"
#include "shadow/ShadowDB.hpp"

#include <QCoreApplication>
#include <array>
#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

namespace orlune::cli {

namespace {

constexpr const char* kUsage =
    "Usage: orlune ask [--json] [--verbose] [--shadow-db PATH] QUESTION\n";

// The answer as one JSON object: "answer", "messages" (the messages it relies
// on, in its order) and "model" (null for an answer from the index alone).
std::string answerDocument(const rlm::HelperResult& result) {
    const nlohmann::json document = {
        {"answer", result.answer},
        {"messages", rlm::CitedMessage::listToJson(result.messages)},
        {"model", result.model ? nlohmann::json(*result.model) : nlohmann::json(nullptr)},
    };
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The helper runs in a process group of its own, out of reach of the
// terminal's Ctrl-C: while a question runs, SIGINT, SIGTERM and SIGHUP stop
// it through its ProcessStop, and ask then exits with 128 + the signal.
std::atomic<rlm::ProcessStop*> activeStop{nullptr};
std::atomic<int> stoppingSignal{0};

extern "C" void stopHelper(int signal) {
    stoppingSignal.store(signal);
    if (rlm::ProcessStop* stop = activeStop.load()) {
        stop->request();
    }
}

// Routes the stopping signals to `stop` while it lives, then puts the
// previous handlers back.
class StopOnSignals {
public:
    explicit StopOnSignals(rlm::ProcessStop& stop) {
        activeStop.store(&stop);
        struct sigaction action {};
        action.sa_handler = &stopHelper;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &action, &previous_[i]);
        }
    }
    ~StopOnSignals() {
        for (size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
        activeStop.store(nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> previous_{};
};

int runAsk(const std::vector<std::string>& args) {
    std::optional<std::string> shadowDB;
    bool asJson = false;
    bool verbose = false;
    std::string question;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--shadow-db") {
            if (i + 1 >= args.size()) {
                std::cerr << "orlune ask: --shadow-db needs a path\n" << kUsage;
                return 2;
            }
            shadowDB = args[++i];
        } else if (arg == "--json") {
            asJson = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg.rfind("--shadow-db=", 0) == 0) {
            shadowDB = arg.substr(std::string("--shadow-db=").size());
        } else if (arg == "--") {
            for (++i; i < args.size(); ++i) {
                question += (question.empty() ? "" : " ") + args[i];
            }
        } else if (arg.size() > 1 && arg[0] == '-' && question.empty()) {
            std::cerr << "orlune ask: unknown option '" << arg << "'\n" << kUsage;
            return 2;
        } else {
            question += (question.empty() ? "" : " ") + arg;
        }
    }
    question = rlm::trimmedText(question);
    if (question.empty()) {
        std::cerr << "orlune ask: a question is needed\n" << kUsage;
        return 2;
    }
    if (auto problem = core::questionLengthProblem(question)) {
        std::cerr << "orlune ask: " << *problem << "\n";
        return 2;
    }

    rlm::StructuredLogger::showOnStandardError(verbose);
    try {
        const std::unique_ptr<QCoreApplication> application = qtApplicationIfNone();
        // The same runner the chat model builds: the stored key first, then
        // VEYRLINK_API_KEY; the saved model server and model unless
        // VEYRLINK_BASE_URL / ORLUNE_RLM_MODEL name others;
        // ORLUNE_RLM_HELPER_CMD, else the resource helper.
        const rlm::AppConfig config = rlm::ConfigManager::shared().load();
        const rlm::RLMHelperRunner runner(config, rlm::RLMHelperRunner::processEnvironment());
        const std::string path = shadowDB ? *shadowDB : core::ShadowDB::shadowDBPath();
        auto stop = std::make_shared<rlm::ProcessStop>();
        const StopOnSignals stopOnSignals(*stop);
        const rlm::HelperResult result = runner.run(question, path, {}, std::nullopt, stop);
        std::cout << (asJson ? answerDocument(result) : result.answer) << "\n";
        return 0;
    } catch (const rlm::RLMHelperError& error) {
        std::cerr << error.what() << "\n";
        if (error.kind() == rlm::RLMHelperError::Kind::cancelled && stoppingSignal.load() != 0) {
            return 128 + stoppingSignal.load();
        }
        return 1;
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}

const CommandRegistration registration(Command{
    "ask",
    "answer one question about the shadow database through the helper",
    std::string(kUsage) +
        "\n"
        "Hands QUESTION to the assistant's helper program, which explores the shadow\n"
        "database and answers; the answer is printed on standard output. On failure\n"
        "the reason is printed on standard error and the exit status is 1. A helper\n"
        "that runs past its deadline (ORLUNE_RLM_DEADLINE_SECONDS, default 300 s, plus\n"
        "a tenth and 2 s) or writes more than 16 MB is stopped with everything it\n"
        "started; so is one interrupted by Ctrl-C (exit status 128 + the signal).\n"
        "\n"
        "Options:\n"
        "  --json            print one JSON object instead of the text: \"answer\",\n"
        "                    \"messages\" (the messages the answer relies on, in its\n"
        "                    order: guid, sender_name, chat_title, time, text) and\n"
        "                    \"model\" (the model that answered; null when the\n"
        "                    answer comes from the index alone)\n"
        "  --verbose         also print the log lines (JSON, one a line) on standard\n"
        "                    error; they always go to the log file\n"
        "  --shadow-db PATH  the shadow database to ask about (default:\n"
        "                    $SHADOW_DB_PATH, else OrluneRLM/shadow.db in your\n"
        "                    per-user data folder: the one `orlune sync`, the read\n"
        "                    verbs and the app use)\n"
        "\n"
        "Environment:\n"
        "  ORLUNE_RLM_HELPER_CMD  a command line (run by a login shell) to use as the\n"
        "                         helper instead of the one in the resources\n"
        "  VEYRLINK_API_KEY       the gateway key, when the configuration holds none\n"
        "  ORLUNE_RLM_MODEL       passed to the helper as the model to use\n",
    runAsk,
});

} // namespace

} // namespace orlune::cli
