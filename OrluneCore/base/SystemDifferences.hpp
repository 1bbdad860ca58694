#pragma once
// The few system facts that Linux and macOS give in different ways, each
// read here and nowhere else.

#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace orlune::core {

// The modification time `stat` wrote into `info` (st_mtim on Linux,
// st_mtimespec on macOS).
timespec modificationTime(const struct stat& info);

// The path of the running program's executable file, or absent when the
// system cannot say: on Linux with symbolic links resolved, on macOS as the
// program was started (possibly through a link).
std::optional<std::string> executablePath();

// pipe() with both ends close-on-exec. Returns 0, or -1 with errno set.
// macOS has no pipe2, so there the flag is set just after pipe(): a child
// forked by another thread in between may inherit the ends, which a spawn
// with POSIX_SPAWN_CLOEXEC_DEFAULT rules out.
int openCloseOnExecPipe(int fds[2]);

} // namespace orlune::core
