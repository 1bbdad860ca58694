#pragma once
// One machine-readable line per event on standard error (unless the
// program keeps it for the person: showOnStandardError) and in the log file.

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace orlune::rlm {

// A small immutable value: each owner holds its own copy (subsystem = the
// application's bundle identifier, category = the owner's name) and may copy
// it freely; copies can be used from any thread at the same time.
//
// Every entry is one compact JSON object followed by one line feed, written
// with a single write() call so that lines from different threads never
// interleave. Lines for standard error also go, each in one write, to the
// application's log file when one is installed (LogFile::install). The
// object holds the caller's metadata plus the five keys
// "level", "message", "subsystem", "category" and "timestamp", which always
// win over caller keys of the same name. Every value is a string; the solidus
// is written escaped ("\/"). Nothing is buffered, filtered or reported back:
// logging never throws and never fails visibly.
class StructuredLogger {
public:
    using Metadata = std::map<std::string, std::string>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // The application's bundle identifier, the subsystem of every owner.
    static constexpr const char* kBundleIdentifier = "com.orlune.OrluneRLM";

    // Categories of the owners.
    static constexpr const char* kConfigCategory = "config";
    static constexpr const char* kHelperCategory = "rlm-helper";
    static constexpr const char* kChatCategory = "chat";
    static constexpr const char* kFullDiskAccessCategory = "full-disk-access";
    static constexpr const char* kShadowSyncCategory = "shadow-sync";

    // `fd` is where lines go (standard error unless a test points it
    // elsewhere; the logger never opens or closes it) and `clock` gives the
    // time of each entry (the system clock when empty).
    StructuredLogger(std::string subsystem, std::string category, int fd = 2, Clock clock = {});

    // Whether lines for standard error are written there (the default): a
    // program whose standard error is for the person (the `orlune` tool)
    // turns this off, and its lines then go only to the installed log file.
    // Process-wide, any thread.
    static void showOnStandardError(bool shown);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    void info(const std::string& message, const Metadata& metadata = {}) const;
    void warning(const std::string& message, const Metadata& metadata = {}) const;
    void error(const std::string& message, const Metadata& metadata = {}) const;

    // The line (with its final line feed) that an entry would be written as.
    // Empty when the entry cannot be serialised (it is then dropped).
    std::string formatLine(const std::string& level, const std::string& message,
                           const Metadata& metadata) const;

    // `time` as yyyy-MM-dd'T'HH:mm:ss'Z' in UTC, whole seconds.
    static std::string formatTimestamp(std::chrono::system_clock::time_point time);

private:
    void write(const std::string& level, const std::string& message,
               const Metadata& metadata) const;

    std::string subsystem_;
    std::string category_;
    int fd_;
    Clock clock_;
};

} // namespace orlune::rlm
