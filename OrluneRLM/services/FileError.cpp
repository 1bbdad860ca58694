#include "services/FileError.hpp"

namespace orlune::rlm {

namespace {

std::string describe(FileError::Kind kind, const std::string& path, const std::string& detail) {
    std::string text;
    switch (kind) {
    case FileError::Kind::noDataFolder:
        text = "No per-user data folder is known; set HOME or XDG_DATA_HOME.";
        return detail.empty() ? text : text + " " + detail;
    case FileError::Kind::createFolder:
        text = "Could not create the folder \"" + path + "\"";
        break;
    case FileError::Kind::read:
        text = "Could not read \"" + path + "\"";
        break;
    case FileError::Kind::write:
        text = "Could not save \"" + path + "\"";
        break;
    case FileError::Kind::decode:
        text = "The file \"" + path + "\" is not in the correct format";
        break;
    }
    return detail.empty() ? text + "." : text + ": " + detail;
}

} // namespace

FileError::FileError(Kind kind, std::string path, const std::string& detail)
    : std::runtime_error(describe(kind, path, detail)), kind_(kind), path_(std::move(path)) {}

} // namespace orlune::rlm
