#include "services/ProcessLauncher.hpp"

#include "base/SystemDifferences.hpp"
#include "services/ProcessStop.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orlune::rlm {

namespace {

// Closes the descriptor it owns, once.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    void reset(int fd) {
        close();
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
};

void openPipe(Pipe& pipe) {
    int fds[2];
    // Close-on-exec, so that a child started at the same time by another
    // thread does not inherit (and hold open) our ends. Where that takes two
    // calls (macOS), posix_spawn is started with POSIX_SPAWN_CLOEXEC_DEFAULT
    // below, which closes every descriptor the file actions do not name.
    if (core::openCloseOnExecPipe(fds) != 0) {
        throw ProcessLauncher::LaunchError("pipe", errno);
    }
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            !(current.sa_flags & SA_SIGINFO)) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

using Clock = std::chrono::steady_clock;
using Ending = ProcessOutcome::Ending;

enum class Drained { open, closed, overflow };

// Reads what is available now, a bounded number of times so that a child
// writing without pause cannot keep the caller from its other duties, and
// keeps at most `cap` bytes in `into` (no cap when 0).
Drained drain(int fd, std::string& into, size_t cap) {
    char buffer[65536];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            const size_t size = static_cast<size_t>(count);
            if (cap != 0 && into.size() + size > cap) {
                into.append(buffer, cap - into.size());
                return Drained::overflow;
            }
            into.append(buffer, size);
            continue;
        }
        if (count == 0) {
            return Drained::closed;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? Drained::open : Drained::closed;
    }
    return Drained::open;
}

// Milliseconds from now until `deadline` for poll(): at least 0, rounded up.
int pollTimeout(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, 60 * 60 * 1000));
}

class SystemLauncher final : public ProcessLauncher {
public:
    ProcessOutcome run(const ProcessSpec& launch, const std::string& input) const override {
        ignoreSigpipeOnce();
        if (launch.stop && launch.stop->requested()) {
            ProcessOutcome stopped;
            stopped.ending = Ending::stopped;
            return stopped;
        }

        Pipe in, out, err;
        openPipe(in);
        openPipe(out);
        openPipe(err);

        std::vector<std::string> argvStorage;
        argvStorage.reserve(launch.arguments.size() + 1);
        argvStorage.push_back(launch.executable);
        argvStorage.insert(argvStorage.end(), launch.arguments.begin(), launch.arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : argvStorage) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> envStorage;
        envStorage.reserve(launch.environment.size());
        for (const auto& [name, value] : launch.environment) {
            envStorage.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (std::string& entry : envStorage) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in.read.get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);

        // The child starts with SIGPIPE at its default action and no blocked
        // signals, whatever this process chose for itself.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        sigset_t noneBlocked;
        sigemptyset(&noneBlocked);
        posix_spawnattr_setsigmask(&attributes, &noneBlocked);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef __APPLE__
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        // The child leads a process group of its own, so that ending it ends
        // whatever it started too. Where it can, it gets a session of its own
        // as well: without a controlling terminal, a login shell's profile
        // that touches the terminal fails instead of being stopped as a
        // background job.
#ifdef POSIX_SPAWN_SETSID
        flags |= POSIX_SPAWN_SETSID;
#else
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
#endif
        posix_spawnattr_setflags(&attributes, flags);

        pid_t pid = -1;
        const int spawned = ::posix_spawn(&pid, launch.executable.c_str(), &actions, &attributes,
                                          argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        in.read.close();
        out.write.close();
        err.write.close();
        if (spawned != 0) {
            throw LaunchError(launch.executable, spawned);
        }

        ProcessOutcome outcome;
        int status = 0;
        const bool timed = launch.timeLimit > std::chrono::milliseconds::zero();
        const Clock::time_point deadline = Clock::now() + launch.timeLimit;
        try {
            outcome.ending =
                exchange(in.write, out.read, err.read, input, outcome, launch, timed, deadline);
            // A child may close its streams and go on running: the bounds
            // hold until it has exited.
            if (outcome.ending == Ending::exited && (timed || launch.stop)) {
                outcome.ending = awaitExit(pid, status, launch, timed, deadline);
            }
        } catch (...) {
            // Out of memory while collecting: still end and reap the child.
            killGroup(pid);
            in.write.close();
            out.read.close();
            err.read.close();
            waitFor(pid, status);
            throw;
        }
        if (outcome.ending != Ending::exited) {
            killGroup(pid);
            waitFor(pid, status);
        } else if (!timed && !launch.stop) {
            waitFor(pid, status);
        }
        if (WIFEXITED(status)) {
            outcome.exitStatus = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            outcome.exitStatus = 128 + WTERMSIG(status);
        }
        return outcome;
    }

private:
    // The child and everything in its process group, at once.
    static void killGroup(pid_t pid) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }

    static void waitFor(pid_t pid, int& status) {
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = 0;
                break;
            }
        }
    }

    // Reaps the child, watching its deadline and its stop meanwhile. Returns
    // `exited` with `status` set once it has exited, or why it must be ended
    // (then it is still to be killed and reaped).
    static Ending awaitExit(pid_t pid, int& status, const ProcessSpec& launch, bool timed,
                            Clock::time_point deadline) {
        for (;;) {
            const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
            if (reaped == pid || (reaped < 0 && errno != EINTR)) {
                if (reaped < 0) {
                    status = 0;
                }
                return Ending::exited;
            }
            if (launch.stop && launch.stop->requested()) {
                return Ending::stopped;
            }
            if (timed && Clock::now() >= deadline) {
                return Ending::timeLimit;
            }
            // Woken at once by a stop; otherwise a look every few milliseconds.
            pollfd stop{launch.stop ? launch.stop->descriptor() : -1, POLLIN, 0};
            const int wait = timed ? std::min(pollTimeout(deadline), 10) : 10;
            ::poll(&stop, launch.stop ? 1 : 0, wait);
        }
    }

    // Feeds `input` and drains both output streams at the same time, so that
    // neither side ever waits on a full pipe. Returns `exited` when both
    // output streams are at end of file and the input is written or refused,
    // or the bound the child passed (or its stop) as soon as it does; every
    // descriptor is closed either way.
    static Ending exchange(Descriptor& input, Descriptor& output, Descriptor& error,
                           const std::string& bytes, ProcessOutcome& outcome,
                           const ProcessSpec& launch, bool timed, Clock::time_point deadline) {
        setNonBlocking(input.get());
        setNonBlocking(output.get());
        setNonBlocking(error.get());
        const int stopDescriptor = launch.stop ? launch.stop->descriptor() : -1;
        Ending ending = Ending::exited;
        size_t written = 0;
        if (bytes.empty()) {
            input.close();
        }
        while (input.isOpen() || output.isOpen() || error.isOpen()) {
            if (launch.stop && launch.stop->requested()) {
                ending = Ending::stopped;
                break;
            }
            if (timed && Clock::now() >= deadline) {
                ending = Ending::timeLimit;
                break;
            }
            pollfd fds[4];
            nfds_t count = 0;
            int inputIndex = -1, outputIndex = -1, errorIndex = -1;
            if (input.isOpen()) {
                inputIndex = static_cast<int>(count);
                fds[count++] = pollfd{input.get(), POLLOUT, 0};
            }
            if (output.isOpen()) {
                outputIndex = static_cast<int>(count);
                fds[count++] = pollfd{output.get(), POLLIN, 0};
            }
            if (error.isOpen()) {
                errorIndex = static_cast<int>(count);
                fds[count++] = pollfd{error.get(), POLLIN, 0};
            }
            if (stopDescriptor >= 0) {
                fds[count++] = pollfd{stopDescriptor, POLLIN, 0};
            }
            if (::poll(fds, count, timed ? pollTimeout(deadline) : -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            if (inputIndex >= 0 && fds[inputIndex].revents != 0) {
                // POLLERR/POLLHUP: nobody reads any more; the rest of the
                // request is dropped and the exit status decides.
                if (fds[inputIndex].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                    input.close();
                } else {
                    const ssize_t sent =
                        ::write(input.get(), bytes.data() + written, bytes.size() - written);
                    if (sent > 0) {
                        written += static_cast<size_t>(sent);
                        if (written == bytes.size()) {
                            input.close();
                        }
                    } else if (sent < 0 && errno != EINTR && errno != EAGAIN &&
                               errno != EWOULDBLOCK) {
                        input.close(); // EPIPE and the like
                    }
                }
            }
            if (outputIndex >= 0 && fds[outputIndex].revents != 0) {
                const Drained drained =
                    drain(output.get(), outcome.standardOutput, launch.maxOutputBytes);
                if (drained == Drained::overflow) {
                    ending = Ending::outputLimit;
                    break;
                }
                if (drained == Drained::closed) {
                    output.close();
                }
            }
            if (errorIndex >= 0 && fds[errorIndex].revents != 0) {
                const Drained drained =
                    drain(error.get(), outcome.standardError, launch.maxOutputBytes);
                if (drained == Drained::overflow) {
                    ending = Ending::errorOutputLimit;
                    break;
                }
                if (drained == Drained::closed) {
                    error.close();
                }
            }
        }
        input.close();
        output.close();
        error.close();
        return ending;
    }
};

} // namespace

ProcessLauncher::LaunchError::LaunchError(const std::string& executable, int error)
    : std::runtime_error(executable + ": " + std::strerror(error)), error_(error) {}

const ProcessLauncher& ProcessLauncher::system() {
    static const SystemLauncher launcher;
    return launcher;
}

} // namespace orlune::rlm
