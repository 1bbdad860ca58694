#pragma once
// A copy of the application's log lines in a file of their own, for runs
// whose standard error goes nowhere (an app started from the Finder).

#include "base/Environment.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::rlm {

// Appends whole lines to one owner-only file (folders 0700, file 0600; a
// symbolic link at the file's path is refused, not followed). When a line
// would take the file past `maxBytes`, the file is first rotated: it becomes
// "<path>.1", an existing "<path>.1" becomes "<path>.2" and so on up to
// "<path>.<keptFiles>", the oldest being dropped. Each line is written with
// one write() call. Thread-safe; never throws: a file that cannot be opened
// or written is left alone and its lines go only to standard error.
class LogFile {
public:
    static constexpr uint64_t kMaxBytes = 1024 * 1024;
    static constexpr int kKeptFiles = 3;
    static constexpr const char* kFileName = "OrluneRLM.log";

    // The folder for the application's log file: "Logs/Orlune" in
    // $ORLUNE_DATA_DIR when that is set (tests and scripts: nothing reaches
    // the person's real folders); otherwise ~/Library/Logs/Orlune on macOS;
    // none elsewhere, where standard error is kept by the session.
    static std::optional<std::string> defaultFolder(const core::Environment& environment);

    explicit LogFile(std::string path, uint64_t maxBytes = kMaxBytes, int keptFiles = kKeptFiles);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::string& path() const { return path_; }
    // Whether the file is open for appending.
    bool isOpen() const;

    // Appends `line` (which should end with a line feed).
    void append(std::string_view line);

    // The file every StructuredLogger writing to standard error also writes
    // to; none until the application installs one (and never in tests that
    // do not). Any thread.
    static void install(std::shared_ptr<LogFile> file);
    static std::shared_ptr<LogFile> installed();

private:
    void open();
    void rotate();

    std::string path_;
    uint64_t maxBytes_;
    int keptFiles_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

} // namespace orlune::rlm
