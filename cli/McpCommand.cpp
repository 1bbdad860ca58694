// `orlune mcp`: the Model Context Protocol server an assistant starts to ask
// about the person's messages, over standard input and output.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "mcp/McpServer.hpp"
#include "services/ConfigManager.hpp"
#include "services/ModelServer.hpp"
#include "services/RLMHelperRunner.hpp"
#include "sync/CurlEmbeddingGateway.hpp"

#include <charconv>
#include <iostream>

namespace orlune::cli {

namespace {

constexpr const char* kBudgetVariable = "ORLUNE_MCP_MAX_REPLY_BYTES";

constexpr const char* kHelp =
    "Usage: orlune mcp [--shadow-db PATH] [--max-reply-bytes N] [--privacy full|metadata]\n"
    "\n"
    "Serves the shadow database to an assistant (Claude Desktop, an editor, any\n"
    "client of the Model Context Protocol) over standard input and output: one\n"
    "JSON-RPC message a line. The assistant starts it; nothing is written to the\n"
    "database, and nothing is sent anywhere. Its tools: ask (a question in\n"
    "words), search_messages, get_conversation, list_people, list_chats and\n"
    "stats. Message texts and names travel only as JSON values.\n"
    "\n"
    "Options:\n"
    "  --shadow-db PATH       the shadow database (default: $SHADOW_DB_PATH, else\n"
    "                         OrluneRLM/shadow.db in your per-user data folder),\n"
    "                         opened read-only on the first tool call\n"
    "  --max-reply-bytes N    no reply longer than N bytes (default 40960, at least\n"
    "                         8192; also $ORLUNE_MCP_MAX_REPLY_BYTES): longer lists\n"
    "                         are cut at whole items, with a cursor for the rest\n"
    "  --privacy full         show message texts (the default), or\n"
    "  --privacy metadata     names, chats, times and counts only, never a text;\n"
    "                         also \"mcpPrivacy\" in the configuration file\n"
    "  -h, --help             show this help\n"
    "\n"
    "The chats left out (`orlune chats`, `orlune sync --exclude-chat`) never\n"
    "appear, not even before the next sync has taken them out of the database.\n"
    "Wrong options are described on standard error, with exit status 2.\n";

// The budget from `text`, or absent after saying why.
std::optional<size_t> budgetFrom(const std::string& text, const std::string& source) {
    size_t bytes = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (error != std::errc() || end != text.data() + text.size() ||
        bytes < mcp::McpSettings::kLeastMaxReplyBytes) {
        std::cerr << "orlune mcp: " << source << " must be a whole number of at least "
                  << mcp::McpSettings::kLeastMaxReplyBytes << " bytes, not '" << text << "'\n";
        return std::nullopt;
    }
    return bytes;
}

// The privacy the flag names, else the configuration's. An unknown value in
// the file shows less, never more.
std::optional<mcp::Privacy> privacyFrom(const std::optional<std::string>& flag) {
    if (flag) {
        const std::optional<mcp::Privacy> named = mcp::privacyNamed(*flag);
        if (!named) {
            std::cerr << "orlune mcp: --privacy must be full or metadata, not '" << *flag << "'\n";
        }
        return named;
    }
    const std::optional<std::string> configured =
        rlm::ConfigManager::shared().loadWithoutCredentials().mcpPrivacy;
    if (!configured) {
        return mcp::Privacy::fullText;
    }
    const std::optional<mcp::Privacy> named = mcp::privacyNamed(*configured);
    if (!named) {
        std::cerr << "orlune mcp: \"mcpPrivacy\" in the configuration is neither \"full\" nor "
                     "\"metadata\"; showing metadata only\n";
        return mcp::Privacy::metadataOnly;
    }
    return named;
}

int runMcp(const std::vector<std::string>& args) {
    OptionParser options("mcp", {"--shadow-db", "--max-reply-bytes", "--privacy"}, {});
    if (!options.parse(args) || !options.noPositional()) {
        return 2;
    }
    mcp::McpSettings settings;
    const char* fromEnvironment = std::getenv(kBudgetVariable);
    if (const std::optional<std::string> flag = options.value("--max-reply-bytes")) {
        const std::optional<size_t> bytes = budgetFrom(*flag, "--max-reply-bytes");
        if (!bytes) {
            return 2;
        }
        settings.maxReplyBytes = *bytes;
    } else if (fromEnvironment != nullptr) {
        const std::optional<size_t> bytes = budgetFrom(fromEnvironment, kBudgetVariable);
        if (!bytes) {
            return 2;
        }
        settings.maxReplyBytes = *bytes;
    }
    const std::optional<mcp::Privacy> privacy = privacyFrom(options.value("--privacy"));
    if (!privacy) {
        return 2;
    }
    settings.privacy = *privacy;
    // A sync takes the chats left out out of the database; hiding them here
    // too covers the time until it has run.
    const rlm::AppConfig config = rlm::ConfigManager::shared().loadWithoutCredentials();
    settings.hiddenChatIds = config.excludedChatIds();
    // Questions find messages by meaning too through a model server on this
    // machine (one elsewhere would need the key from the credential store).
    const std::optional<rlm::ModelServer::EmbeddingSource> source =
        rlm::ModelServer::embeddingSource(config, rlm::RLMHelperRunner::processEnvironment());
    if (source && rlm::ModelServer::isOnThisMachine(QString::fromStdString(source->baseUrl))) {
        settings.embeddings = std::make_shared<core::CurlEmbeddingGateway>(source->baseUrl, "");
    }

    // The read verbs' bound on what SQLite may hold in this process.
    sqlite3_hard_heap_limit64(core::QueryBounds::kReaderHeapLimit);
    const std::optional<std::string> path = options.value("--shadow-db");
    mcp::McpTools tools([path] { return openShadowForReading(path); }, settings);
    mcp::McpServer server(tools, ORLUNE_VERSION);
    std::ios::sync_with_stdio(false);
    server.serve(std::cin, std::cout);
    return 0;
}

const CommandRegistration registration(Command{
    "mcp",
    "serve the shadow database to an assistant (Model Context Protocol)",
    kHelp,
    runMcp,
});

} // namespace

} // namespace orlune::cli
