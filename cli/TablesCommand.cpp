// `orlune tables`: the tables and views of the shadow database.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "SqlOutput.hpp"
#include "TextTable.hpp"

#include <iostream>
#include <nlohmann/json.hpp>

namespace orlune::cli {

namespace {

const std::string kHelp =
    std::string("Usage: orlune tables [--shadow-db PATH] [--json]\n"
                "\n"
                "Lists the tables and views of the shadow database by name, the full-text\n"
                "index messages_fts and its internal tables included.\n"
                "\n"
                "Options:\n") +
    kShadowDBOptionHelp +
    std::string("  --json            one JSON object per table: {\"name\": ...}\n"
                "  -h, --help        show this help\n");

int runTables(const std::vector<std::string>& args) {
    OptionParser options("tables", {"--shadow-db"}, {"--json"});
    if (!options.parse(args)) {
        return 2;
    }
    if (!options.noPositional()) {
        return 2;
    }
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        auto tables = db.listTables();
        if (options.flag("--json")) {
            for (const auto& name : tables) {
                printJsonLine(nlohmann::ordered_json{{"name", name}}, std::cout);
            }
            return 0;
        }
        TextTable table({"name"});
        for (const auto& name : tables) {
            table.addRow({name});
        }
        table.print(std::cout);
        return 0;
    });
}

const CommandRegistration registration(Command{
    "tables",
    "list the tables of the shadow database",
    kHelp,
    runTables,
});

} // namespace

} // namespace orlune::cli
