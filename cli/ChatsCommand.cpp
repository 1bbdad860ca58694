// `orlune chats`: the chats of the shadow database with their ids and
// message counts, and the chats left out of it.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "SqlOutput.hpp"
#include "TextTable.hpp"
#include "services/ChatList.hpp"
#include "services/ConfigManager.hpp"

#include <iostream>
#include <nlohmann/json.hpp>

namespace orlune::cli {

namespace {

const std::string kHelp =
    std::string("Usage: orlune chats [--shadow-db PATH] [--json]\n"
                "\n"
                "Lists the chats of the shadow database, most messages first: each chat's\n"
                "id, how many of its messages the copy holds, whether it is left out and\n"
                "its title. The chats left out (\"excludedChats\" in the app's config.json,\n"
                "set with `orlune sync --exclude-chat ID` or the app's Settings) follow,\n"
                "with the title they had when they were left out; the copy holds none of\n"
                "their messages once a sync has run.\n"
                "\n"
                "Options:\n") +
    kShadowDBOptionHelp +
    std::string("  --json            one JSON object per chat: {\"chat_id\", \"title\",\n"
                "                    \"is_group\", \"messages\", \"excluded\"}\n"
                "  -h, --help        show this help\n");

int runChats(const std::vector<std::string>& args) {
    OptionParser options("chats", {"--shadow-db"}, {"--json"});
    if (!options.parse(args) || !options.noPositional()) {
        return 2;
    }
    const rlm::AppConfig config = rlm::ConfigManager::shared().loadWithoutCredentials();
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        const std::vector<rlm::ListedChat> lines = rlm::listChats(db, config);
        if (options.flag("--json")) {
            for (const rlm::ListedChat& line : lines) {
                nlohmann::ordered_json item = {{"chat_id", line.chatId}};
                item["title"] = line.title ? nlohmann::ordered_json(*line.title) : nullptr;
                item["is_group"] = line.isGroup;
                item["messages"] = line.messages;
                item["excluded"] = line.excluded;
                printJsonLine(item, std::cout);
            }
            return 0;
        }
        TextTable table({"id", "messages", "excluded", "title"});
        for (const rlm::ListedChat& line : lines) {
            table.addRow({line.chatId, std::to_string(line.messages), line.excluded ? "yes" : "no",
                          line.title.value_or("")});
        }
        table.print(std::cout);
        return 0;
    });
}

const CommandRegistration registration(Command{
    "chats",
    "list the chats with their ids and message counts, and those left out",
    kHelp,
    runChats,
});

} // namespace

} // namespace orlune::cli
