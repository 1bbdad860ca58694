#include "services/LogFile.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::rlm {

namespace {

std::mutex& installedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<LogFile>& installedFile() {
    static std::shared_ptr<LogFile> file;
    return file;
}

} // namespace

std::optional<std::string> LogFile::defaultFolder(const core::Environment& environment) {
    if (auto override = environment.variable(core::Environment::kDataFolderOverride);
        override && !override->empty() && override->front() == '/') {
        return core::joinPath(*override, "Logs/Orlune");
    }
#ifdef __APPLE__
    return core::joinPath(environment.homeDirectory(), "Library/Logs/Orlune");
#else
    return std::nullopt;
#endif
}

LogFile::LogFile(std::string path, uint64_t maxBytes, int keptFiles)
    : path_(std::move(path)), maxBytes_(maxBytes), keptFiles_(keptFiles) {
    // The logger is a leaf: it makes its folder itself rather than through
    // PrivateFiles, which logs. A folder that cannot be made leaves the file
    // closed.
    if (core::createPrivateFolders(std::filesystem::path(path_).parent_path().string())) {
        return;
    }
    open();
}

LogFile::~LogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool LogFile::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_ >= 0;
}

void LogFile::open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        return;
    }
    struct stat info {};
    size_ = ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void LogFile::rotate() {
    ::close(fd_);
    fd_ = -1;
    const std::string oldest = path_ + "." + std::to_string(keptFiles_);
    ::unlink(oldest.c_str());
    for (int n = keptFiles_ - 1; n >= 1; --n) {
        const std::string from = path_ + "." + std::to_string(n);
        const std::string to = path_ + "." + std::to_string(n + 1);
        ::rename(from.c_str(), to.c_str());
    }
    if (keptFiles_ >= 1) {
        ::rename(path_.c_str(), (path_ + ".1").c_str());
    } else {
        ::unlink(path_.c_str());
    }
    open();
}

void LogFile::append(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    if (size_ > 0 && size_ + line.size() > maxBytes_) {
        rotate();
        if (fd_ < 0) {
            return;
        }
    }
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written > 0) {
        size_ += static_cast<uint64_t>(written);
    }
}

void LogFile::install(std::shared_ptr<LogFile> file) {
    std::lock_guard<std::mutex> lock(installedMutex());
    installedFile() = std::move(file);
}

std::shared_ptr<LogFile> LogFile::installed() {
    std::lock_guard<std::mutex> lock(installedMutex());
    return installedFile();
}

} // namespace orlune::rlm
