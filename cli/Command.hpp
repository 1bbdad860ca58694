#pragma once
// The verbs of the `orlune` tool. Each verb lives in its own source file and
// registers itself with a static `CommandRegistration`; main() dispatches on
// the first argument.

#include <functional>
#include <string>
#include <vector>

namespace orlune::cli {

struct Command {
    std::string name;
    std::string synopsis; // one line for `orlune --help`
    std::string help;     // the full text of `orlune VERB --help`
    // Runs the verb with the arguments after its name; returns the exit code.
    // Errors are reported on standard error by the verb itself.
    std::function<int(const std::vector<std::string>& args)> run;
};

// Every registered verb, in name order.
std::vector<const Command*> commands();

struct CommandRegistration {
    explicit CommandRegistration(Command command);
};

} // namespace orlune::cli
