#include "base/Environment.hpp"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::core {

namespace {

class ProcessEnvironment final : public Environment {
public:
    std::optional<std::string> variable(const std::string& name) const override {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    }

    std::string homeDirectory() const override {
        if (auto home = variable("HOME"); home && !home->empty()) {
            return *home;
        }
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
            return entry->pw_dir;
        }
        return "/";
    }

    std::string applicationSupportDirectory() const override {
        if (auto override = variable(kDataFolderOverride);
            override && !override->empty() && override->front() == '/') {
            return *override;
        }
#ifdef __APPLE__
        return joinPath(homeDirectory(), "Library/Application Support");
#else
        if (auto xdg = variable("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
            return *xdg;
        }
        return joinPath(homeDirectory(), ".local/share");
#endif
    }
};

} // namespace

const Environment& Environment::process() {
    static const ProcessEnvironment environment;
    return environment;
}

std::string joinPath(const std::string& base, const std::string& relative) {
    if (base.empty()) {
        return relative;
    }
    std::string joined = base;
    if (joined.back() != '/') {
        joined += '/';
    }
    size_t start = 0;
    while (start < relative.size() && relative[start] == '/') {
        ++start;
    }
    joined.append(relative, start, std::string::npos);
    return joined;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool pathIsMissing(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::error_code createPrivateFolders(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? std::error_code()
                                     : std::make_error_code(std::errc::not_a_directory);
    }
    // Walk down the components, creating each missing one owner-only.
    size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        const std::string prefix = path.substr(0, position);
        if (prefix.empty() || prefix == "/") {
            continue;
        }
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return std::error_code(errno, std::generic_category());
        }
    }
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    return {};
}

} // namespace orlune::core
