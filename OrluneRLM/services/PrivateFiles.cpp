#include "services/PrivateFiles.hpp"

#include "base/Environment.hpp"
#include "services/FileError.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::rlm {

std::string PrivateFiles::dataFolder() {
    // One rule for the application, the command-line tool and the helper,
    // with the ORLUNE_DATA_DIR override (QStandardPaths ignores HOME on macOS).
    std::string location = core::Environment::process().applicationSupportDirectory();
    if (location.empty()) {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    }
    return location;
}

void PrivateFiles::createFolders(const std::string& path) {
    if (const std::error_code error = core::createPrivateFolders(path)) {
        throw FileError(FileError::Kind::createFolder, path, error.message());
    }
}

void PrivateFiles::preparePrivateFolder(const std::string& path, const StructuredLogger& logger) {
    if (path.empty()) {
        return; // the current folder, which is not Orlune's to judge
    }
    createFolders(path);
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        throw FileError(FileError::Kind::createFolder, path, std::strerror(errno));
    }
    const bool link = S_ISLNK(entry.st_mode);
    struct stat folder = entry;
    if (link && ::stat(path.c_str(), &folder) != 0) {
        throw FileError(FileError::Kind::createFolder, path, std::strerror(errno));
    }
    if (folder.st_uid != ::geteuid()) {
        throw FileError(FileError::Kind::createFolder, path,
                        "it belongs to another user, who could read or replace what is saved "
                        "there");
    }
    const mode_t mode = folder.st_mode & 07777;
    if (link) {
        // A folder elsewhere is not tightened through a link; it is only
        // refused when others could replace what is saved in it.
        if ((mode & (S_IWGRP | S_IWOTH)) != 0) {
            throw FileError(FileError::Kind::createFolder, path,
                            "it is a symbolic link to a folder other users can write to");
        }
        return;
    }
    if ((mode & (S_IRWXG | S_IRWXO)) != 0) {
        if (::chmod(path.c_str(), S_IRWXU) != 0) {
            throw FileError(FileError::Kind::createFolder, path, std::strerror(errno));
        }
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
        logger.warning("private_folder_repaired", {{"path", path}, {"old_mode", octal}});
    }
}

void PrivateFiles::writeAtomically(const std::string& path, const std::string& bytes,
                                   const StructuredLogger& logger) {
    // A new file made beside the target (O_EXCL: never an existing file or
    // link) and renamed over it: rename() replaces a link at `path` itself
    // rather than what it points to.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        throw FileError(FileError::Kind::write, path, std::strerror(errno));
    }
    auto fail = [&](const std::string& reason) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw FileError(FileError::Kind::write, path, reason);
    };
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        fail(std::strerror(errno));
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(std::strerror(errno));
        }
        written += static_cast<size_t>(count);
    }
    if (::fsync(fd) != 0) {
        fail(std::strerror(errno));
    }
    if (::close(fd) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw FileError(FileError::Kind::write, path, reason);
    }
    struct stat entry {};
    const bool replacesLink = ::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw FileError(FileError::Kind::write, path, reason);
    }
    if (replacesLink) {
        logger.warning("private_file_link_replaced", {{"path", path}});
    }
}

std::string PrivateFiles::read(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError(FileError::Kind::read, path, std::strerror(errno));
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            contents.append(buffer, static_cast<size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            const std::string reason = std::strerror(errno);
            ::close(fd);
            throw FileError(FileError::Kind::read, path, reason);
        }
    }
    ::close(fd);
    return contents;
}

std::string PrivateFiles::folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

} // namespace orlune::rlm
