// `orlune describe`: the columns of one table of the shadow database.

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
    std::string("Usage: orlune describe [--shadow-db PATH] [--json] TABLE\n"
                "\n"
                "Shows the columns of TABLE in the shadow database: name, declared type,\n"
                "and whether it may hold NULL. TABLE must be one plain name (letters,\n"
                "digits, underscores).\n"
                "\n"
                "Options:\n") +
    kShadowDBOptionHelp +
    std::string("  --json            one JSON object per column with the keys name, type\n"
                "                    and not_null\n"
                "  -h, --help        show this help\n"
                "\n"
                "A table that does not exist is an error (exit status 1).\n");

int runDescribe(const std::vector<std::string>& args) {
    OptionParser options("describe", {"--shadow-db"}, {"--json"});
    if (!options.parse(args)) {
        return 2;
    }
    if (!options.onePositional("a TABLE name is needed", "give exactly one TABLE name")) {
        return 2;
    }
    const std::string& name = options.positional()[0];
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        auto columns = db.describeTable(name);
        if (columns.empty()) {
            std::cerr << "No table named '" << name << "' in the shadow database. "
                      << "Run `orlune tables` to list them.\n";
            return 1;
        }
        if (options.flag("--json")) {
            for (const auto& column : columns) {
                nlohmann::ordered_json line;
                line["name"] = column.name;
                line["type"] = column.type;
                line["not_null"] = column.notNull;
                printJsonLine(line, std::cout);
            }
            return 0;
        }
        TextTable table({"name", "type", "not_null"});
        for (const auto& column : columns) {
            table.addRow({column.name, column.type, column.notNull ? "yes" : "no"});
        }
        table.print(std::cout);
        return 0;
    });
}

const CommandRegistration registration(Command{
    "describe",
    "show the columns of a table of the shadow database",
    kHelp,
    runDescribe,
});

} // namespace

} // namespace orlune::cli
