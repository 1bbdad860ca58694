#pragma once
// Test support: runs a built program as a real process and captures what it
// wrote and how it ended.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orlune::testing {

struct ProcessResult {
    int exitCode = -1; // -1 when the process did not exit normally or could not start
    std::string out;
    std::string err;
};

// This process's environment ("NAME=value" entries) with `changes` applied:
// a value sets the variable, std::nullopt removes it.
std::vector<std::string>
environmentWith(const std::map<std::string, std::optional<std::string>>& changes);

// Runs `program` with `args` and exactly the environment `environment`
// ("NAME=value" entries), in `workDir` (this process's folder when empty),
// and blocks until it exits. Standard input is `input`, or /dev/null when
// absent; standard output and error go to files in a private temporary
// folder, so none of the three is a terminal. A program that cannot be
// started ends with exit code 127.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment,
                         const std::optional<std::string>& input = std::nullopt,
                         const std::string& workDir = {});

// A port on 127.0.0.1 where nothing listens (bound, then released).
int unusedPort();

// Whether the process `pid` has stopped running within a few seconds: it is
// gone, or a zombie its new parent has not reaped yet.
bool processEnds(int pid);

} // namespace orlune::testing
