#include "OrluneRLM/PrivateFiles.hpp"

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/FileError.hpp"

#include <QSaveFile>
#include <cerrno>
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

void PrivateFiles::writeAtomically(const std::string& path, const std::string& bytes) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(FileError::Kind::write, path, file.errorString().toStdString());
    }
    // The temporary file becomes the file on commit, so its mode is the
    // final mode: owner-only, whatever the old file or the umask allowed.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        const std::string reason = std::strerror(errno);
        file.cancelWriting();
        throw FileError(FileError::Kind::write, path, reason);
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        const std::string reason = file.errorString().toStdString();
        file.cancelWriting();
        throw FileError(FileError::Kind::write, path, reason);
    }
    if (!file.commit()) {
        throw FileError(FileError::Kind::write, path, file.errorString().toStdString());
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
