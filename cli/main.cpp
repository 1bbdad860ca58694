#include "Command.hpp"
#include "TerminalOutput.hpp"
#include "base/Environment.hpp"
#include "services/LogFile.hpp"
#include "services/StructuredLogger.hpp"

#include <csignal>
#include <iostream>
#include <map>
#include <memory>

namespace orlune::cli {

namespace {

std::map<std::string, Command>& registry() {
    static std::map<std::string, Command> verbs;
    return verbs;
}

void printUsage(std::ostream& out) {
    out << "Usage: orlune VERB [OPTIONS] [ARGUMENTS]\n\n"
           "Orlune copies your messaging store read-only into a private, searchable\n"
           "database on this computer and answers questions about it.\n\n"
           "Verbs:\n";
    for (const Command* command : commands()) {
        out << "  " << command->name;
        for (size_t pad = command->name.size(); pad < 10; ++pad) {
            out << ' ';
        }
        out << command->synopsis << "\n";
    }
    out << "\nRun `orlune VERB --help` for the options of one verb.\n";
}

// Standard error is for the person: every part of a verb logs to the log
// file only (`orlune ask --verbose` shows the lines again). Help makes no
// file.
void keepLogLinesInTheLogFile() {
    if (const auto folder =
            orlune::rlm::LogFile::defaultFolder(orlune::core::Environment::process())) {
        orlune::rlm::LogFile::install(std::make_shared<orlune::rlm::LogFile>(
            orlune::core::joinPath(*folder, orlune::rlm::LogFile::kFileName)));
    }
    orlune::rlm::StructuredLogger::showOnStandardError(false);
}

} // namespace

std::vector<const Command*> commands() {
    std::vector<const Command*> list;
    for (const auto& [name, command] : registry()) {
        list.push_back(&command);
    }
    return list;
}

CommandRegistration::CommandRegistration(Command command) {
    std::string name = command.name;
    registry().emplace(std::move(name), std::move(command));
}

} // namespace orlune::cli

int main(int argc, char** argv) {
    using namespace orlune::cli;
    // A child that exits without reading its input must not end this process.
    std::signal(SIGPIPE, SIG_IGN);
    // Everything printed from here on passes through the control escaping.
    const TerminalSafeOutput terminalSafe;

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printUsage(std::cerr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printUsage(std::cout);
        return 0;
    }
    const auto& verbs = registry();
    auto found = verbs.find(args[0]);
    if (found == verbs.end()) {
        std::cerr << "orlune: unknown verb '" << args[0] << "'\n\n";
        printUsage(std::cerr);
        return 2;
    }
    const Command& command = found->second;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest) {
        if (arg == "--help" || arg == "-h") {
            std::cout << command.help;
            return 0;
        }
    }
    keepLogLinesInTheLogFile();
    return command.run(rest);
}
