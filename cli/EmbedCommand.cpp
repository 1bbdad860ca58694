// `orlune embed`: gives each synced message a vector of its meaning from the
// model server, for the search by meaning.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "QtApplication.hpp"
#include "TerminalOutput.hpp"
#include "services/ConfigManager.hpp"
#include "services/ModelServer.hpp"
#include "services/RLMHelperRunner.hpp"
#include "shadow/ShadowDB.hpp"
#include "sync/CurlEmbeddingGateway.hpp"
#include "sync/MessageEmbedder.hpp"

#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace orlune::cli {

namespace {

constexpr const char* kHelp =
    "Usage: orlune embed [--shadow-db PATH]\n"
    "\n"
    "Sends the text of every synced message, in batches, to the model server's\n"
    "embeddings endpoint (POST <server>/embeddings) and stores the vector it\n"
    "gives back in the shadow database. With vectors stored, `orlune ask`, the\n"
    "app and the MCP server also find messages that say what a question asks in\n"
    "other words. Only messages without a vector are sent: a run that stops\n"
    "(Ctrl-C, a server error) keeps what it stored and the next run goes on from\n"
    "there. A change of model, or of the vectors' length, makes every vector\n"
    "again. Progress goes to standard error. The app runs this after each sync\n"
    "when a model server is set.\n"
    "\n"
    "The message texts leave this computer when the model server is on another\n"
    "one. Without a model server nothing is sent and the exit status is 1.\n"
    "\n"
    "Options:\n"
    "  --shadow-db PATH  the shadow database (default: $SHADOW_DB_PATH, else\n"
    "                    OrluneRLM/shadow.db in your per-user data folder)\n"
    "  -h, --help        show this help\n"
    "\n"
    "Environment (each wins over the settings when set):\n"
    "  VEYRLINK_BASE_URL       the model server (\"http://127.0.0.1:8080/v1\")\n"
    "  VEYRLINK_API_KEY        its key, for a server on another computer\n"
    "  ORLUNE_EMBEDDING_MODEL  the model to embed with (settings key\n"
    "                          \"embeddingModel\"; default nomic-embed-text)\n";

std::atomic<int> stopRequested{0};

void requestStop(int signal) {
    stopRequested.store(signal);
}

int runEmbed(const std::vector<std::string>& args) {
    OptionParser parser("orlune embed", {"--shadow-db"}, {});
    if (!parser.parse(args) || !parser.noPositional()) {
        return 2;
    }
    const std::string path = parser.value("--shadow-db").value_or(core::ShadowDB::shadowDBPath());
    try {
        const std::unique_ptr<QCoreApplication> application = qtApplicationIfNone();
        const std::optional<rlm::ModelServer::EmbeddingSource> source =
            rlm::ModelServer::embeddingSource(rlm::ConfigManager::shared().load(),
                                              rlm::RLMHelperRunner::processEnvironment());
        if (!source) {
            std::cerr << "orlune embed: no model server is set. Set its address in the app's "
                         "Settings (Model Server) or in VEYRLINK_BASE_URL; nothing was sent.\n";
            return 1;
        }
        if (!std::filesystem::exists(path)) {
            std::cerr << "orlune embed: no shadow database at " << path
                      << "; run `orlune sync` first.\n";
            return 1;
        }
        core::ShadowDB db(path);
        db.createSchemaIfNeeded();
        core::CurlEmbeddingGateway gateway(source->baseUrl, source->apiKey);

        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);

        const bool onTerminal = isatty(STDERR_FILENO) == 1;
        std::cerr << "Embedding messages with " << source->model << " at " << source->baseUrl
                  << "\n";
        const auto show = [&](const core::VectorProgress& progress) {
            const std::string line = "Embedded " + std::to_string(progress.embedded) + " of " +
                                     std::to_string(progress.embeddable) + " messages";
            if (onTerminal) {
                writeControlToStandardError("\r" + line);
            }
        };
        core::VectorProgress done;
        try {
            done = core::MessageEmbedder(db, gateway, source->model).run(show, [] {
                return stopRequested.load() != 0;
            });
        } catch (const core::EmbeddingError& error) {
            std::cerr << (onTerminal ? "\n" : "") << "orlune embed: " << error.what()
                      << "\nThe vectors stored so far are kept; run `orlune embed` again to go "
                         "on.\n";
            return 1;
        }
        std::cerr << (onTerminal ? "\n" : "") << "Embedded " << done.embedded << " of "
                  << done.embeddable << " messages"
                  << (done.embedded < done.embeddable ? " (stopped; run again to go on)" : "")
                  << "\n";
        return stopRequested.load() != 0 ? 128 + stopRequested.load() : 0;
    } catch (const std::exception& error) {
        std::cerr << "orlune embed: " << error.what() << "\n";
        return 1;
    }
}

const CommandRegistration registration(Command{
    "embed",
    "store each message's meaning from the model server, for the search by meaning",
    kHelp,
    runEmbed,
});

} // namespace

} // namespace orlune::cli
