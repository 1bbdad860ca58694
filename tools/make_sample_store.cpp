// orlune-make-sample-store: writes a messaging store (chat.db) full of
// plausible conversations, for trying Orlune without a real one.

#include "base/Environment.hpp"
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
    "[--real] [--era ERA] [--attachment-home DIR] [--address-book DIR] [--force] PATH\n"
    "\n"
    "Writes a sample messaging store (chat.db) at PATH.\n"
    "\n"
    "  --messages N               number of messages (default 2000)\n"
    "  --seed S                   random seed; the same seed gives the same store (default 1)\n"
    "  --archive-only-percent P   share of messages whose text is only in attributedBody,\n"
    "                             0 to 100 (default 40)\n"
    "  --real                     also write what real stores hold besides plain messages:\n"
    "                             reactions, group events, attachments, edits, unsent and\n"
    "                             deleted messages, junk, threads, more handles\n"
    "  --era ERA                  the store's version: very-old (before macOS 10.13, dates\n"
    "                             in seconds), before-edits (macOS 10.13 to 12), recent\n"
    "                             (macOS 14 and 15, the default) or newest (macOS 26)\n"
    "  --attachment-home DIR      write the files of attachments that are on disk under\n"
    "                             DIR, as if DIR were the home folder\n"
    "  --address-book DIR         also write an address book naming the store's people\n"
    "                             in DIR (for ADDRESS_BOOK_PATH); DIR must hold no book\n"
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
    std::optional<std::string> addressBook;
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
        } else if (arg == "--real") {
            options.content = orlune::samplestore::RealStoreContent::everything();
        } else if (arg == "--era") {
            using orlune::samplestore::StoreEra;
            auto v = value();
            if (v && *v == "very-old") {
                options.era = StoreEra::VeryOld;
            } else if (v && *v == "before-edits") {
                options.era = StoreEra::BeforeEdits;
            } else if (v && *v == "recent") {
                options.era = StoreEra::Recent;
            } else if (v && *v == "newest") {
                options.era = StoreEra::Newest;
            } else {
                return usageError("--era needs very-old, before-edits, recent or newest");
            }
        } else if (arg == "--address-book") {
            auto v = value();
            if (!v || v->empty()) {
                return usageError("--address-book needs a folder");
            }
            addressBook = std::string(*v);
        } else if (arg == "--attachment-home") {
            auto v = value();
            if (!v || v->empty()) {
                return usageError("--attachment-home needs a folder");
            }
            options.attachmentHome = std::string(*v);
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
        if (addressBook) {
            orlune::samplestore::writeSampleAddressBook(*addressBook);
            std::cout << "Wrote an address book naming its people in " << *addressBook << "\n";
        }
        std::cout << "Wrote " << summary.messages << " messages to " << path << " ("
                  << summary.archiveOnly << " with text only in attributedBody, "
                  << summary.textOnly << " only in text, " << summary.both << " in both, "
                  << summary.neither << " without text; " << summary.chats << " chats, "
                  << summary.handles << " handles)\n";
        if (options.content.any()) {
            const auto& c = summary.counts;
            std::cout << "Besides them: " << c.tapbacks << " tapbacks, " << c.removals
                      << " removals, " << c.stickers << " stickers, " << c.pollVotes
                      << " poll votes, " << c.smsReactions << " reactions by SMS, " << c.groupEvents
                      << " group events, " << c.attachmentMessages << " messages with "
                      << c.attachments << " attachments, " << c.edited << " edited, " << c.unsent
                      << " unsent, " << c.recentlyDeleted << " in Recently Deleted, " << c.deleted
                      << " deleted, " << c.deletedChats << " deleted conversations, "
                      << c.junkMessages << " junk, " << c.threadReplies << " thread replies ("
                      << summary.messageRows << " message rows in all)\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "orlune-make-sample-store: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
