// orlune-make-sample-store: writes a messaging store (chat.db) full of
// plausible conversations, for trying Orlune without a real one.

#include "OrluneCore/Environment.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "Usage: orlune-make-sample-store [--messages N] [--seed S] [--archive-only-percent P] "
    "[--force] PATH\n"
    "\n"
    "Writes a sample messaging store (chat.db) at PATH.\n"
    "\n"
    "  --messages N               number of messages (default 2000)\n"
    "  --seed S                   random seed; the same seed gives the same store (default 1)\n"
    "  --archive-only-percent P   share of messages whose text is only in attributedBody,\n"
    "                             0 to 100 (default 40)\n"
    "  --force                    replace a file already at PATH\n"
    "  -h, --help                 show this help\n";

template <typename T> bool parseNumber(std::string_view text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

int usageError(const std::string& message) {
    std::cerr << "orlune-make-sample-store: " << message << "\n\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    orlune::samplestore::SampleStoreOptions options;
    bool force = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            return std::string_view(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--force") {
            force = true;
        } else if (arg == "--messages") {
            auto v = value();
            if (!v || !parseNumber(*v, options.messageCount) || options.messageCount < 0) {
                return usageError("--messages needs a number of 0 or more");
            }
        } else if (arg == "--seed") {
            auto v = value();
            if (!v || !parseNumber(*v, options.seed)) {
                return usageError("--seed needs a non-negative number");
            }
        } else if (arg == "--archive-only-percent") {
            auto v = value();
            if (!v || !parseNumber(*v, options.archiveOnlyPercent) ||
                options.archiveOnlyPercent < 0 || options.archiveOnlyPercent > 100) {
                return usageError("--archive-only-percent needs a number from 0 to 100");
            }
        } else if (!arg.empty() && arg.front() == '-') {
            return usageError("unknown option " + std::string(arg));
        } else if (path.empty()) {
            path = std::string(arg);
        } else {
            return usageError("only one PATH may be given");
        }
    }
    if (path.empty()) {
        return usageError("PATH is missing");
    }
    if (orlune::core::pathExists(path)) {
        if (!force) {
            std::cerr << "orlune-make-sample-store: " << path
                      << " already exists; use --force to replace it\n";
            return 1;
        }
        std::error_code ec;
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            std::filesystem::remove(path + suffix, ec);
            if (ec) {
                std::cerr << "orlune-make-sample-store: cannot remove " << path << suffix << ": "
                          << ec.message() << "\n";
                return 1;
            }
        }
    }
    try {
        const auto summary = orlune::samplestore::buildSampleStore(path, options);
        std::cout << "Wrote " << summary.messages << " messages to " << path << " ("
                  << summary.archiveOnly << " with text only in attributedBody, "
                  << summary.textOnly << " only in text, " << summary.both << " in both, "
                  << summary.neither << " without text; " << summary.chats << " chats, "
                  << summary.handles << " handles)\n";
    } catch (const std::exception& e) {
        std::cerr << "orlune-make-sample-store: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
