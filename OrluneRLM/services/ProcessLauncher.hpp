#pragma once
// Starting a child process, feeding its standard input and collecting its
// output: the seam through which the helper runner starts the helper.

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::rlm {

class ProcessStop;

struct ProcessSpec {
    std::string executable;                         // absolute path, run as is (no PATH search)
    std::vector<std::string> arguments;             // after argv[0] (which is `executable`)
    std::map<std::string, std::string> environment; // the child's whole environment
    // The bounds of the run; the launcher ends a child that passes one (see
    // ProcessOutcome::Ending). Zero means no bound.
    std::chrono::milliseconds timeLimit{0}; // counted from the launch
    size_t maxOutputBytes = 0;              // of each of standard output and standard error
    // When given, requesting it ends the child at once.
    std::shared_ptr<ProcessStop> stop;
};

struct ProcessOutcome {
    // Why the run ended: the child exited by itself, or the launcher ended
    // it (and everything in its process group) because it ran past the time
    // limit, wrote more than the output bound to standard output or to
    // standard error, or a stop was requested.
    enum class Ending { exited, timeLimit, outputLimit, errorOutputLimit, stopped };

    // The exit status; a child ended by signal N reports 128 + N, as a shell would.
    int exitStatus = 0;
    std::string standardOutput; // everything written, up to end of file (at most the bound)
    std::string standardError;
    Ending ending = Ending::exited;
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

    // Starts `launch`, writes `input` to its standard input and closes it,
    // drains standard output and standard error while the child runs, and
    // returns once the child has exited and both streams reached end of file.
    // Blocks the calling thread (any thread; no event loop is needed). A child
    // that exits or closes its input early only cuts the input short.
    // The child leads a process group of its own; when it passes a bound set
    // in `launch` or its stop is requested, the whole group is killed (SIGKILL),
    // the output read so far is returned with the reason in `ending`, and the
    // launcher returns without waiting for end of file from anything the
    // child left behind. A stop requested before the launch starts nothing.
    // Throws LaunchError when the child cannot be started.
    virtual ProcessOutcome run(const ProcessSpec& launch, const std::string& input) const = 0;

    // The real launcher (posix_spawn with three pipes). Lives for the whole
    // program. Its first use makes the process ignore SIGPIPE if it did not
    // already handle it, so that a write to a closed pipe fails with EPIPE
    // instead of ending the program; children start with SIGPIPE at default.
    static const ProcessLauncher& system();
};

} // namespace orlune::rlm
