// `orlune ask`: one question to the helper, answered on standard output.

#include "Command.hpp"
#include "OrluneRLM/ConfigManager.hpp"
#include "OrluneRLM/RLMHelperRunner.hpp"
#include "OrluneRLM/ShadowPaths.hpp"
#include "OrluneRLM/TextTrimming.hpp"

#include <QCoreApplication>
#include <iostream>
#include <optional>

namespace orlune::cli {

namespace {

constexpr const char* kUsage = "Usage: orlune ask [--shadow-db PATH] QUESTION\n";

int runAsk(const std::vector<std::string>& args) {
    std::optional<std::string> shadowDB;
    std::string question;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--shadow-db") {
            if (i + 1 >= args.size()) {
                std::cerr << "orlune ask: --shadow-db needs a path\n" << kUsage;
                return 2;
            }
            shadowDB = args[++i];
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

    try {
        // The platform's credential store answers through Qt's event loop.
        static char name[] = "orlune";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        std::optional<QCoreApplication> application;
        if (QCoreApplication::instance() == nullptr) {
            application.emplace(argc, argv);
        }
        // The same runner the chat model builds: the stored key first, then
        // VEYRLINK_API_KEY; ORLUNE_RLM_HELPER_CMD, else the resource helper.
        const rlm::AppConfig config = rlm::ConfigManager::shared().load();
        const rlm::RLMHelperRunner runner(config.veyrlinkApiKey,
                                          rlm::RLMHelperRunner::processEnvironment());
        const std::string path = shadowDB ? *shadowDB : rlm::ShadowPaths::shadowDBPath();
        const rlm::HelperResult result = runner.run(question, path);
        std::cout << result.answer << "\n";
        return 0;
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
        "the reason is printed on standard error and the exit status is 1.\n"
        "\n"
        "Options:\n"
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
