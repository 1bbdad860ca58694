#pragma once
// A sessions file that exists but cannot be read, and where it was put so
// that no later save overwrites it.

#include "services/FileError.hpp"

#include <string>

namespace orlune::rlm {

// Thrown by FileSessionStore::load(). It is the FileError that made the file
// unreadable (same kind, path and text), plus where the file now is.
class UnreadableSessionsError : public FileError {
public:
    UnreadableSessionsError(const FileError& cause, std::string movedTo)
        : FileError(cause), movedTo_(std::move(movedTo)) {}

    // The file's new path beside the old one; empty when it could not be
    // moved (it then stays in place and the store refuses to save over it).
    const std::string& movedTo() const { return movedTo_; }

private:
    std::string movedTo_;
};

} // namespace orlune::rlm
