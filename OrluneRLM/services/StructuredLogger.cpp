#include "services/StructuredLogger.hpp"

#include "services/LogFile.hpp"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace orlune::rlm {

namespace {

std::atomic<bool> standardErrorShown{true};

} // namespace

void StructuredLogger::showOnStandardError(bool shown) {
    standardErrorShown.store(shown);
}

StructuredLogger::StructuredLogger(std::string subsystem, std::string category, int fd, Clock clock)
    : subsystem_(std::move(subsystem)), category_(std::move(category)), fd_(fd),
      clock_(std::move(clock)) {}

void StructuredLogger::info(const std::string& message, const Metadata& metadata) const {
    write("info", message, metadata);
}

void StructuredLogger::warning(const std::string& message, const Metadata& metadata) const {
    write("warning", message, metadata);
}

void StructuredLogger::error(const std::string& message, const Metadata& metadata) const {
    write("error", message, metadata);
}

std::string StructuredLogger::formatTimestamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm utc{};
    if (gmtime_r(&seconds, &utc) == nullptr) {
        return {};
    }
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

std::string StructuredLogger::formatLine(const std::string& level, const std::string& message,
                                         const Metadata& metadata) const {
    try {
        nlohmann::json entry = nlohmann::json::object();
        for (const auto& [key, value] : metadata) {
            entry[key] = value;
        }
        entry["level"] = level;
        entry["message"] = message;
        entry["subsystem"] = subsystem_;
        entry["category"] = category_;
        entry["timestamp"] = formatTimestamp(clock_ ? clock_() : std::chrono::system_clock::now());

        // Text that is not UTF-8 becomes U+FFFD rather than losing the event.
        const std::string compact =
            entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        std::string line;
        line.reserve(compact.size() + 16);
        // A solidus can only occur inside a string of the serialised object,
        // so escaping every one keeps the line valid JSON.
        for (char c : compact) {
            if (c == '/') {
                line += '\\';
            }
            line += c;
        }
        line += '\n';
        return line;
    } catch (...) {
        return {};
    }
}

void StructuredLogger::write(const std::string& level, const std::string& message,
                             const Metadata& metadata) const {
    const std::string line = formatLine(level, message, metadata);
    if (line.empty()) {
        return;
    }
    if (fd_ != STDERR_FILENO || standardErrorShown.load()) {
        ssize_t written;
        do {
            written = ::write(fd_, line.data(), line.size());
        } while (written < 0 && errno == EINTR);
    }
    if (fd_ == STDERR_FILENO) {
        if (const std::shared_ptr<LogFile> file = LogFile::installed()) {
            file->append(line);
        }
    }
}

} // namespace orlune::rlm
