#pragma once
// Ends a running child process from elsewhere: the user's Cancel, a signal
// handler, a model going away. A launcher given the stop (ProcessSpec::stop)
// watches it while the child runs and, once it is requested, kills the
// child's whole process group at once and reports ProcessOutcome::Ending::
// stopped; a stop requested before the launch keeps the child from starting.
//
// Shared through std::shared_ptr between the one who may stop and the
// launcher. request() may be called from any thread, from a signal handler,
// any number of times, before, during or after the run.

#include <atomic>

namespace orlune::rlm {

class ProcessStop {
public:
    // Throws std::system_error when the pipe it signals through cannot be
    // made.
    ProcessStop();
    ~ProcessStop();
    ProcessStop(const ProcessStop&) = delete;
    ProcessStop& operator=(const ProcessStop&) = delete;

    // Ends the child now. Async-signal-safe: it stores a flag and writes one
    // byte.
    void request() noexcept;
    bool requested() const noexcept { return requested_.load(); }

    // Becomes readable once request() was called; for the launcher's poll().
    int descriptor() const { return readEnd_; }

private:
    std::atomic<bool> requested_{false};
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

} // namespace orlune::rlm
