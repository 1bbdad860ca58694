#include "services/ProcessStop.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace orlune::rlm {

ProcessStop::ProcessStop() {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
}

ProcessStop::~ProcessStop() {
    ::close(readEnd_);
    ::close(writeEnd_);
}

void ProcessStop::request() noexcept {
    if (!requested_.exchange(true)) {
        const char byte = 1;
        // Non-blocking, and nothing is ever read from the pipe: one byte is
        // all it holds.
        [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
    }
}

} // namespace orlune::rlm
