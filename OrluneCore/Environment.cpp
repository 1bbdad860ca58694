#include "OrluneCore/Environment.hpp"

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

} // namespace orlune::core
