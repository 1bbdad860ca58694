#pragma once
// A temporary home for one test: HOME and the data folder (ORLUNE_DATA_DIR,
// and XDG_DATA_HOME for what reads it directly)
// point inside it, and a file there collects log lines.

#include "services/StructuredLogger.hpp"
#include "tests/support/TempDir.hpp"

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orlune::testing {

class RlmTestFolder {
public:
    RlmTestFolder() : env_("HOME", dir_.path().string()) {
        env_.set("XDG_DATA_HOME", dataFolder());
        env_.set("ORLUNE_DATA_DIR", dataFolder());
        logFd_ =
            ::open(dir_.file("log.jsonl").c_str(), O_CREAT | O_RDWR | O_APPEND | O_CLOEXEC, 0600);
    }
    ~RlmTestFolder() { ::close(logFd_); }

    const TempDir& dir() const { return dir_; }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string dataFolder() const { return dir_.file("data"); }

    // A logger whose lines go to this folder's log file.
    rlm::StructuredLogger logger(const std::string& category) const {
        return rlm::StructuredLogger(rlm::StructuredLogger::kBundleIdentifier, category, logFd_);
    }
    // Every line logged so far, parsed.
    std::vector<nlohmann::json> loggedEntries() const {
        std::vector<nlohmann::json> entries;
        const std::string text = readFile(dir_.file("log.jsonl"));
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            entries.push_back(nlohmann::json::parse(text.substr(start, end - start)));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return entries;
    }

    // Writes an executable shell script.
    static void writeScript(const std::string& path, const std::string& body) {
        writeFile(path, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0755);
    }

    // The permission bits of `path`.
    static unsigned mode(const std::string& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }

private:
    TempDir dir_;
    ScopedEnv env_;
    int logFd_ = -1;
};

} // namespace orlune::testing
