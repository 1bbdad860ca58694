#pragma once
// Starting a child process, feeding its standard input and collecting its
// output: the seam through which the helper runner starts the helper.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::rlm {

struct ProcessSpec {
    std::string executable;                         // absolute path, run as is (no PATH search)
    std::vector<std::string> arguments;             // after argv[0] (which is `executable`)
    std::map<std::string, std::string> environment; // the child's whole environment
};

struct ProcessOutcome {
    // The exit status; a child ended by signal N reports 128 + N, as a shell would.
    int exitStatus = 0;
    std::string standardOutput; // everything written, up to end of file
    std::string standardError;
};

class ProcessLauncher {
public:
    // The process could not be started (missing, not executable, ...);
    // what() is "<executable>: <system reason>".
    class LaunchError : public std::runtime_error {
    public:
        LaunchError(const std::string& executable, int error);
        int error() const { return error_; }

    private:
        int error_;
    };

    virtual ~ProcessLauncher() = default;

    // Starts `spec`, writes `input` to its standard input and closes it,
    // drains standard output and standard error while the child runs, and
    // returns once the child has exited and both streams reached end of file.
    // Blocks the calling thread (any thread; no event loop is needed). A child
    // that exits or closes its input early only cuts the input short.
    // Throws LaunchError when the child cannot be started.
    virtual ProcessOutcome run(const ProcessSpec& spec, const std::string& input) const = 0;

    // The real launcher (posix_spawn with three pipes). Lives for the whole
    // program. Its first use makes the process ignore SIGPIPE if it did not
    // already handle it, so that a write to a closed pipe fails with EPIPE
    // instead of ending the program; children start with SIGPIPE at default.
    static const ProcessLauncher& system();
};

} // namespace orlune::rlm
