#pragma once
// The failure of a file-system operation on the application's own files
// (configuration, sessions, the shadow database's folder).

#include <stdexcept>
#include <string>

namespace orlune::rlm {

class FileError : public std::runtime_error {
public:
    enum class Kind {
        noDataFolder, // the platform reports no per-user data folder
        createFolder, // a folder could not be created
        read,         // a file could not be read
        write,        // a file could not be written or replaced
        decode,       // a file was read but is not in the expected format
    };

    // `path` is the file or folder concerned; `detail` the system's reason
    // (or the parser's message for `decode`). what() is the user-facing text.
    FileError(Kind kind, std::string path, const std::string& detail);

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }

private:
    Kind kind_;
    std::string path_;
};

} // namespace orlune::rlm
