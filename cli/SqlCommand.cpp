// `orlune sql`: one read-only SQL statement on the shadow database.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "SqlOutput.hpp"

#include <iostream>

namespace orlune::cli {

namespace {

const std::string kHelp =
    std::string("Usage: orlune sql [--shadow-db PATH] [--limit N] [--json] SQL\n"
                "\n"
                "Runs one SQL statement that only reads (SELECT, WITH, EXPLAIN, and a few\n"
                "pragmas such as table_info) on the shadow database and prints its rows.\n"
                "Statements that write, ATTACH, transactions, VACUUM, REINDEX, ANALYZE and\n"
                "other pragmas are refused, and a statement running longer than 5 seconds\n"
                "is stopped, as is one that would make a value larger than 16 MiB. Texts\n"
                "and blobs longer than 1 MiB are cut, and a result stops at 64 MiB; a note\n"
                "on standard error says what was cut. Tables: messages (with the full-text index "
                "messages_fts),\n"
                "chat_participants and sync_state; see `orlune tables` and\n"
                "`orlune describe TABLE`.\n"
                "\n"
                "Options:\n") +
    kShadowDBOptionHelp +
    std::string("  --limit N         at most N rows (default 100)\n"
                "  --json            one JSON object per row, keyed by column name (blobs as\n"
                "                    hexadecimal text)\n"
                "  -h, --help        show this help\n"
                "\n"
                "Errors are described on standard error, with exit status 1 (2 for wrong\n"
                "arguments).\n");

int runSql(const std::vector<std::string>& args) {
    OptionParser options("sql", {"--shadow-db", "--limit"}, {"--json"});
    if (!options.parse(args)) {
        return 2;
    }
    std::optional<int> limit;
    if (!options.positiveInteger("--limit", limit)) {
        return 2;
    }
    if (!options.onePositional("an SQL statement is needed",
                               "give the SQL as one argument (quote it)")) {
        return 2;
    }
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        const core::QueryBounds bounds;
        auto result = db.executeReadOnly(options.positional()[0], limit.value_or(0), bounds);
        printQueryResult(result, options.flag("--json"), std::cout);
        printCutNote(
            bounds.describeCut(result.cutCells, result.stoppedAtSizeLimit, result.rows.size()));
        return 0;
    });
}

const CommandRegistration registration(Command{
    "sql",
    "run one read-only SQL statement on the shadow database",
    kHelp,
    runSql,
});

} // namespace

} // namespace orlune::cli
